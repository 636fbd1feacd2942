#pragma once
// Runtime errors of the system: exceptions whose what() is the system's exact text.

#include <stdexcept>
#include <string>

// The runtime's fixed error texts.
inline constexpr const char* kNullObjectText = "Attempt to access field or method of Null object";
inline constexpr const char* kAbstractMethodText = "Attempt to call abstract method";
inline constexpr const char* kUninitializedFunctionText = "Attempt to call uninitialized function pointer";
inline constexpr const char* kArrayBoundsText = "Attempt to index array element beyond array length";
inline constexpr const char* kReadBeyondEndText = "Attempt to read beyond end of data";

// A general runtime error carrying any text ("Too many hook ids", ...).
class TRuntimeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Raised by a call to an operation a class leaves abstract.
class TAbstractMethodError : public TRuntimeError {
public:
    TAbstractMethodError() : TRuntimeError(kAbstractMethodText) {}
};

// Raised by an index outside an array's bounds.
class TArrayBoundsError : public TRuntimeError {
public:
    TArrayBoundsError() : TRuntimeError(kArrayBoundsText) {}
};

// Raised when an operation is applied to a null object.
class TNullObjectError : public TRuntimeError {
public:
    TNullObjectError() : TRuntimeError(kNullObjectText) {}
};

// Throws TArrayBoundsError unless 0 <= index < length.
inline void CheckIndex(long long index, long long length) {
    if (index < 0 || index >= length) throw TArrayBoundsError();
}
