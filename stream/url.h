#pragma once
// URLs and the stream factories that turn protocol URLs into streams.

#include <memory>
#include <string>
#include <type_traits>

#include "stream/stream.h"

// What a stream can be opened from: a text (a path, or protocol "::" path)
// or a stream that is already open. A null stream counts as empty text.
class TUrl {
public:
    TUrl() = default;
    TUrl(const char* text) : _text(text ? text : "") {}
    TUrl(std::string text) : _text(std::move(text)) {}
    template <typename T, typename = std::enable_if_t<std::is_base_of_v<TStream, T>>>
    TUrl(std::shared_ptr<T> stream) : _stream(std::move(stream)) {}

    // The stream given, null when the URL is a text.
    const std::shared_ptr<TStream>& Stream() const { return _stream; }
    // The text given, empty when the URL is a stream.
    const std::string& Text() const { return _text; }

private:
    std::string _text;
    std::shared_ptr<TStream> _stream;
};

// Opens streams for one or more protocols. Factories form a list asked from
// the head; the one registered last is asked first.
class TStreamFactory {
public:
    TStreamFactory() = default;
    TStreamFactory(const TStreamFactory&) = delete;
    TStreamFactory& operator=(const TStreamFactory&) = delete;
    virtual ~TStreamFactory() = default;

    // A stream for the URL (protocol lower-cased, path as given), or null
    // when this factory does not serve it. Abstract here.
    virtual std::shared_ptr<TStream> CreateStream(const TUrl& url, const std::string& protocol, const std::string& path,
                                                  int32_t readable, int32_t writeable);

    // The next factory of the list, null at the end.
    const std::shared_ptr<TStreamFactory>& Succ() const { return _succ; }

private:
    friend void RegisterStreamFactory(std::shared_ptr<TStreamFactory> factory);
    std::shared_ptr<TStreamFactory> _succ;
};

// Serves "incbin" :: name from the embedded-file registry, read-only.
class TRamStreamFactory : public TStreamFactory {
public:
    std::shared_ptr<TStream> CreateStream(const TUrl& url, const std::string& protocol, const std::string& path,
                                          int32_t readable, int32_t writeable) override;
};

// Links factory in at the head of the list. The "incbin" factory is always there.
void RegisterStreamFactory(std::shared_ptr<TStreamFactory> factory);
// The head of the factory list.
std::shared_ptr<TStreamFactory> StreamFactories();

// Opens a URL: a stream is wrapped (closing the wrapper leaves it open), a
// text without "::" is a disk file, anything else is offered to the
// factories. Null when nothing can open it.
std::shared_ptr<TStream> OpenUrlStream(const TUrl& url, int32_t readable, int32_t writeable);
// OpenUrlStream(url, 1, 0).
std::shared_ptr<TStream> ReadStream(const TUrl& url);
// OpenUrlStream(url, 0, 1).
std::shared_ptr<TStream> WriteStream(const TUrl& url);
