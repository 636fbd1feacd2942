// Streams over memory and disk files, URL opening, factories and the
// embedded-file registry.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <utility>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "stream/cstream.h"
#include "stream/embedded.h"
#include "stream/ramstream.h"
#include "stream/replacing_file.h"
#include "tests/support/temp_dir.h"
#ifndef _WIN32
#include "tests/support/full_disk.h"
#endif
#include "stream/stream_functions.h"
#include "stream/url.h"

namespace fs = std::filesystem;

namespace {

// The what() of the E that f raises, or "" when it raises nothing.
template <typename E = TRuntimeError, typename F>
std::string RaisedText(F f) {
    try {
        f();
    } catch (const E& e) {
        return e.what();
    }
    return "";
}

const char kFont[] = "font-bytes";
const bool kFontRegistered = RegisterEmbeddedFile("gldrawtextfont.bin", kFont, 10) == 1;

// Counts the calls a factory receives and answers none of them.
class TRecordingFactory : public TStreamFactory {
public:
    std::shared_ptr<TStream> CreateStream(const TUrl&, const std::string& protocol, const std::string& path, int32_t,
                                          int32_t) override {
        calls.push_back(protocol + "|" + path);
        return nullptr;
    }
    std::vector<std::string> calls;
};

}  // namespace

TEST(RamStream, SeekClampsReadsStopAtTheEndAndFlagsGovernAccess) {
    char bytes[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    auto s = TRamStream::Create(bytes, 10, 1, 0);
    EXPECT_EQ(std::vector<int32_t>({s->Seek(-5), s->Seek(99), s->Seek(8)}), std::vector<int32_t>({0, 10, 8}));
    char buf[4] = {};
    EXPECT_EQ(s->Read(buf, 4), 2);
    EXPECT_EQ(std::string(buf, 2), "\x08\x09");
    EXPECT_EQ(std::vector<int32_t>({s->Read(buf, 4), s->Eof(), s->Read(buf, 0), s->Read(buf, -3)}),
              std::vector<int32_t>({0, 1, 0, 0}));
    EXPECT_EQ(s->Write("xy", 2), 0) << "read-only";

    auto wo = TRamStream::Create(bytes, 4, 0, 1);
    EXPECT_EQ(wo->Read(buf, 1), 0) << "write-only";
    wo->Seek(2);
    EXPECT_EQ(wo->Write("abcdef", 6), 2) << "the block never grows";
    EXPECT_EQ(std::string(bytes, 5), std::string("\x00\x01"
                                                 "ab\x04",
                                                 5));
    EXPECT_EQ(wo->Size(), 4);
}

TEST(Stream, TypedValuesRoundTripLittleEndian) {
    unsigned char block[64] = {};
    auto s = TRamStream::Create(block, sizeof block, 1, 1);
    s->WriteByte(0x1FF);
    s->WriteShort(0x12345);
    s->WriteInt(-2);
    s->WriteLong(0x0102030405060708LL);
    s->WriteFloat(1.5f);
    s->WriteDouble(-0.25);
    s->WriteString("ok");
    EXPECT_EQ(block[0], 0xFF);
    EXPECT_EQ(block[1], 0x45);
    EXPECT_EQ(block[2], 0x23);
    EXPECT_EQ(block[7], 0x08);
    s->Seek(0);
    EXPECT_EQ(s->ReadByte(), 255);
    EXPECT_EQ(s->ReadShort(), 0x2345);
    EXPECT_EQ(s->ReadInt(), -2);
    EXPECT_EQ(s->ReadLong(), 0x0102030405060708LL);
    EXPECT_EQ(s->ReadFloat(), 1.5f);
    EXPECT_EQ(s->ReadDouble(), -0.25);
    EXPECT_EQ(s->ReadString(2), "ok");
    EXPECT_EQ(s->Pos(), 29);
}

TEST(Stream, ReadLineStopsAtLineFeedZeroOrEndAndDropsCarriageReturns) {
    std::string text = std::string("ab\r\ncd", 6) + std::string(1, '\0') + "e\rf";
    auto s = TRamStream::Create(text.data(), static_cast<int32_t>(text.size()), 1, 0);
    EXPECT_EQ(s->ReadLine(), "ab");
    EXPECT_EQ(s->ReadLine(), "cd");
    EXPECT_EQ(s->ReadLine(), "ef");
    EXPECT_EQ(s->ReadLine(), "");
    char out[8] = {};
    auto w = TRamStream::Create(out, 5, 0, 1);
    EXPECT_EQ(w->WriteLine("xyz"), 1);
    EXPECT_EQ(std::string(out, 5), "xyz\r\n");
    EXPECT_EQ(w->WriteLine("more"), 0) << "a full block cannot take the line";
}

TEST(Stream, ExactTransfersRaiseWhenNoProgressIsMade) {
    char five[5] = {1, 2, 3, 4, 5};
    auto s = TRamStream::Create(five, 5, 1, 0);
    char buf[8] = {};
    EXPECT_EQ(RaisedText<TStreamReadException>([&] { s->ReadBytes(buf, 8); }), "Error reading from stream");
    EXPECT_EQ(std::string(buf, 5), std::string(five, 5));
    s->Seek(0);
    EXPECT_EQ(s->SkipBytes(4), 4);
    EXPECT_THROW(s->SkipBytes(2), TStreamReadException);
    EXPECT_THROW(s->ReadString(3), TStreamReadException);
    EXPECT_EQ(RaisedText<TStreamWriteException>([&] { s->WriteBytes(buf, 1); }), "Error writing to stream");
    // Both are stream errors, which is what the loaders catch.
    EXPECT_THROW(s->ReadBytes(buf, 1), TStreamException);
}

TEST(Stream, BaseOperationsHaveTheirDefaultsAndTexts) {
    TStream s;
    EXPECT_EQ(std::vector<int32_t>({s.Pos(), s.Size(), s.Seek(3), s.Eof(), s.Flush(), s.Close()}),
              std::vector<int32_t>({-1, 0, -1, 0, 0, 0}));
    char c;
    EXPECT_EQ(RaisedText([&] { s.Read(&c, 1); }), "Stream is not readable");
    EXPECT_EQ(RaisedText([&] { s.Write(&c, 1); }), "Stream is not writeable");
    EXPECT_EQ(RaisedText([&] { s.ReadObject(); }), "Unable to read object");
    EXPECT_EQ(RaisedText([&] { s.WriteObject(nullptr); }), "Unable to write object");
    EXPECT_THROW(Pos(std::shared_ptr<TStream>()), TNullObjectError);
}

TEST(CStream, WritesSeeksAndKeepsTheSize) {
    TempDir dir;
    auto s = TCStream::OpenFile(dir.File("w.bin"), 0, 1);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->Mode(), TCStream::MODE_WRITE);
    std::vector<char> hundred(100, 'a');
    EXPECT_EQ(s->Write(hundred.data(), 100), 100);
    EXPECT_EQ(s->Seek(10), 10);
    EXPECT_EQ(s->Write("bbbbb", 5), 5);
    char c;
    // Position, size, a read of a write-only file; then the same once closed.
    EXPECT_EQ(std::vector<int32_t>({s->Pos(), s->Size(), s->Read(&c, 1)}), std::vector<int32_t>({15, 100, 0}));
    s->Close();
    EXPECT_EQ(std::vector<int32_t>({s->Pos(), s->Size(), s->Read(&c, 1), s->Write(&c, 1), s->Close()}),
              std::vector<int32_t>({0, 0, 0, 0, 0}));
    std::string data = ReadFileBytes(dir.File("w.bin"));
    ASSERT_EQ(data.size(), 100u);
    EXPECT_EQ(data.substr(8, 9), "aabbbbbaa");
}

TEST(CStream, OpenModesAndBackslashPaths) {
    TempDir dir;
    WriteFileBytes(dir.File("f.txt"), "12345");
    auto r = TCStream::OpenFile(dir.File("f.txt"), 0, 0);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->Mode(), TCStream::MODE_READ);
    EXPECT_EQ(r->Size(), 5);
    char buf[8] = {};
    EXPECT_THROW(r->ReadBytes(buf, 8), TStreamReadException);
    EXPECT_EQ(std::string(buf, 5), "12345");

    std::string back = dir.File("f.txt");
    for (char& ch : back)
        if (ch == '/') ch = '\\';
    auto rw = TCStream::OpenFile(back, 1, 1);
    ASSERT_TRUE(rw) << "backslashes are read as slashes";
    EXPECT_EQ(rw->Mode(), TCStream::MODE_READ | TCStream::MODE_WRITE);
    EXPECT_EQ(rw->Read(buf, 2), 2);
    EXPECT_EQ(rw->Write("xy", 2), 2) << "switching from reading to writing on an update stream";
    EXPECT_EQ(rw->Read(buf, 1), 1);
    EXPECT_EQ(buf[0], '5');
    rw.reset();  // dropping the last reference closes and flushes
    EXPECT_EQ(ReadFileBytes(dir.File("f.txt")), "12xy5");

    EXPECT_FALSE(TCStream::OpenFile(dir.File("missing"), 1, 0));
}

// A disk-file stream is a regular file: a directory, a device or a named pipe
// is refused in every mode, before an open could wait on it (a FIFO opened
// for reading waits for a writer), and a refused write target stays as it
// was. A name with a NUL in it names no file (the C library would stop there).
TEST(CStream, OnlyRegularFilesOpenAndNamesWithANulNone) {
    TempDir dir;
    std::vector<std::string> refused = {dir.path.string()};
#ifndef _WIN32  // the devices and FIFOs below are POSIX ones
    ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
    refused.insert(refused.end(), {"/dev/null", "/dev/full", dir.File("fifo")});
    alarm(30);  // a blocking open fails the suite rather than hanging it
#endif
    for (const std::string& path : refused) {
        for (auto [readable, writeable] : {std::pair{1, 0}, std::pair{0, 0}, std::pair{1, 1}, std::pair{0, 1}}) {
            SCOPED_TRACE(path + " " + std::to_string(readable) + std::to_string(writeable));
            std::string why;
            EXPECT_FALSE(TCStream::OpenFile(path, readable, writeable, &why));
            EXPECT_NE(why.find("not a regular file"), std::string::npos) << why;
            EXPECT_FALSE(OpenUrlStream(path, readable, writeable));
        }
    }
    EXPECT_TRUE(fs::is_directory(dir.path));
#ifndef _WIN32
    alarm(0);
    EXPECT_TRUE(fs::is_fifo(dir.File("fifo")) && fs::is_character_file("/dev/full")) << "a refused target is replaced";
#endif

    WriteFileBytes(dir.File("real.txt"), "real");
    const std::string withNul = dir.File("real.txt") + std::string("\0.png", 5);
    for (auto [readable, writeable] : {std::pair{1, 0}, std::pair{1, 1}, std::pair{0, 1}}) {
        EXPECT_FALSE(TCStream::OpenFile(withNul, readable, writeable));
        EXPECT_FALSE(OpenUrlStream(withNul, readable, writeable));
    }
    EXPECT_FALSE(OpenUrlStream(std::string("incbin::gldrawtextfont.bin\0x", 28), 1, 0));
    EXPECT_EQ(ReadFileBytes(dir.File("real.txt")), "real");
}

// A written file takes its target's place only once complete: a writer that
// gives up, or is dropped, leaves the old file; permissions are kept, and a
// symbolic link keeps leading to the (new) file.
TEST(ReplacingFile, TheTargetChangesOnlyWhenTheFileIsComplete) {
    TempDir dir;
    const std::string target = dir.File("t.bin");
    WriteFileBytes(target, "old");
    EXPECT_EQ(WriteWholeFile(target,
                             [](const std::shared_ptr<TStream>& s) {
                                 s->WriteString("half");
                                 throw TRuntimeError("gave up");
                             }),
              "gave up");
    TReplacingFile::Create(target)->WriteString("dropped");
    EXPECT_EQ(ReadFileBytes(target), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 1) << "a leftover";
#ifndef _WIN32
    chmod(target.c_str(), 0640);
    fs::create_symlink(target, dir.File("link"));
    EXPECT_EQ(WriteWholeFile(dir.File("link"), [](const std::shared_ptr<TStream>& s) { s->WriteString("new"); }), "");
    EXPECT_TRUE(fs::is_symlink(dir.File("link")));
    EXPECT_EQ((fs::status(target).permissions() & fs::perms::all), fs::perms(0640));
#else
    EXPECT_EQ(WriteWholeFile(target, [](const std::shared_ptr<TStream>& s) { s->WriteString("new"); }), "");
#endif
    EXPECT_EQ(ReadFileBytes(target), "new");
}

// Written beside its target under a visible name, as a recording is: a part
// file left by a run that died is emptied and reused, what is written is
// there as it goes, and only a plain file of that name is ever written into.
TEST(ReplacingFile, AVisiblePartFileIsReusedAndOnlyWhenPlain) {
    TempDir dir;
    const std::string target = dir.File("r.rec");
    WriteFileBytes(target, "old");
    WriteFileBytes(target + ".part", "left by a killed run");
    auto file = TReplacingFile::CreateBeside(target, ".part");
    ASSERT_TRUE(file);
    file->WriteString("frame");
    file->Flush();
    EXPECT_EQ(ReadFileBytes(target + ".part"), "frame");
    EXPECT_EQ(ReadFileBytes(target), "old");
    EXPECT_EQ(file->Close(), 0);
    EXPECT_EQ(ReadFileBytes(target), "frame");
    EXPECT_FALSE(fs::exists(target + ".part"));
    fs::create_directory(target + ".part");
    std::string why;
    EXPECT_FALSE(TReplacingFile::CreateBeside(target, ".part", &why));
    EXPECT_NE(why.find("directory"), std::string::npos) << why;
#ifndef _WIN32
    fs::remove(target + ".part");
    ASSERT_EQ(mkfifo((target + ".part").c_str(), 0600), 0);
    EXPECT_FALSE(TReplacingFile::CreateBeside(target, ".part", &why));  // would wait for a reader without O_NONBLOCK
    EXPECT_NE(why.find("named pipe"), std::string::npos) << why;
    EXPECT_TRUE(fs::is_fifo(target + ".part"));
#endif
    EXPECT_EQ(ReadFileBytes(target), "frame");
}

#ifndef _WIN32
// A full disk: the write fails with the file system's reason, the old file is
// as it was, no temporary file is left; with room again the same write lands.
TEST(ReplacingFile, AFullDiskLeavesTheOldFileAndSaysWhy) {
    FullDisk disk;
    if (!disk.Why().empty()) GTEST_SKIP() << disk.Why();
    const std::string target = disk.File("old.bin");
    std::string old(8192, '\0');
    for (size_t i = 0; i < old.size(); ++i) old[i] = static_cast<char>(i * 7 + 3);
    WriteFileBytes(target, old);
    disk.Fill();
    const std::string big(100000, 'n');
    auto write = [&](const std::shared_ptr<TStream>& s) { s->WriteString(big); };
    EXPECT_EQ(WriteWholeFile(target, write), "No space left on device");
    auto file = TReplacingFile::Create(target);
    ASSERT_TRUE(file);
    file->Write(big.data(), 10);  // buffered: the failure comes with the close
    EXPECT_EQ(file->Close(), -1);
    EXPECT_EQ(file->Problem(), "No space left on device");
    EXPECT_TRUE(ReadFileBytes(target) == old) << "the old file changed";
    EXPECT_EQ(disk.Names(), (std::vector<std::string>{"filler", "old.bin"}));
    disk.Empty();
    EXPECT_EQ(WriteWholeFile(target, write), "");
    EXPECT_EQ(ReadFileBytes(target), big);
}
#endif

// Makes file size bytes long (sparse where the file system can), on any platform.
bool Resize(const std::string& file, std::uintmax_t size) {
    std::error_code error;
    fs::resize_file(file, size, error);
    return !error;
}

// Positions and sizes are 32-bit: a larger file is refused rather than given a
// wrapped size, and no transfer moves a position past the largest one. Sparse
// files cost no disk.
TEST(CStream, FilesBeyondTwoGibibytesAreRefusedNotWrapped) {
    constexpr int32_t kLast = std::numeric_limits<int32_t>::max();
    TempDir dir;
    const std::string big = dir.File("big.bin"), edge = dir.File("edge.bin");
    ASSERT_TRUE(Resize((WriteFileBytes(big, ""), big), 2200000000));
    for (auto [readable, writeable] : {std::pair{1, 0}, std::pair{1, 1}}) {
        EXPECT_FALSE(TCStream::OpenFile(big, readable, writeable)) << readable << writeable;
        EXPECT_FALSE(OpenUrlStream(big, readable, writeable)) << readable << writeable;
    }
    std::FILE* f = std::fopen(big.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    auto wrapped = TCStream::CreateWithCStream(f, TCStream::MODE_READ);
    EXPECT_FALSE(wrapped);
    if (!wrapped) std::fclose(f);  // a refused handle stays the caller's

    // A file that ends at the largest position opens; a write there takes
    // only what fits, then no more.
    ASSERT_TRUE(Resize((WriteFileBytes(edge, ""), edge), kLast - 2));
    auto s = TCStream::OpenFile(edge, 1, 1);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->Size(), kLast - 2);
    EXPECT_EQ(s->Seek(kLast - 2), kLast - 2);
    EXPECT_EQ(s->Write("abcdefgh", 8), 2);
    EXPECT_EQ(std::vector<int32_t>({s->Pos(), s->Size(), s->Write("x", 1)}), std::vector<int32_t>({kLast, kLast, 0}));
    EXPECT_THROW(s->WriteByte(1), TStreamWriteException);
    s->Close();
    EXPECT_EQ(fs::file_size(edge), static_cast<uintmax_t>(kLast));

    // The file grows under an open stream: reads stop at the largest position.
    auto r = TCStream::OpenFile(edge, 1, 0);
    ASSERT_TRUE(r);
    ASSERT_TRUE(Resize(edge, 2200000000));
    EXPECT_EQ(r->Seek(kLast - 2), kLast - 2);
    char buf[8] = {};
    EXPECT_EQ(r->Read(buf, 8), 2);
    EXPECT_EQ(std::string(buf, 2), "ab");
    EXPECT_EQ(std::vector<int32_t>({r->Pos(), r->Read(buf, 8)}), std::vector<int32_t>({kLast, 0}));
    EXPECT_THROW(r->ReadByte(), TStreamReadException);
}

TEST(CStream, CreateWithCStreamKeepsTheHandlePosition) {
    TempDir dir;
    WriteFileBytes(dir.File("p.bin"), "abcdefgh");
    std::FILE* f = std::fopen(dir.File("p.bin").c_str(), "rb");
    ASSERT_NE(f, nullptr);
    std::fseek(f, 3, SEEK_SET);
    auto s = TCStream::CreateWithCStream(f, TCStream::MODE_READ);
    EXPECT_EQ(std::vector<int32_t>({s->Pos(), s->Size(), s->ReadByte()}), std::vector<int32_t>({3, 8, 'd'}));
}

TEST(OpenUrl, PlainPathsOpenFilesWithoutAskingFactories) {
    TempDir dir;
    auto spy = std::make_shared<TRecordingFactory>();
    RegisterStreamFactory(spy);
    WriteFileBytes(dir.File("Metaball.png"), "data");
    auto s = OpenUrlStream(dir.File("Metaball.png"), 1, 0);
    ASSERT_TRUE(s);
    EXPECT_NE(dynamic_cast<TCStream*>(s.get()), nullptr);
    EXPECT_EQ(s->ReadString(4), "data");
    EXPECT_FALSE(OpenUrlStream(dir.File("nothing.png"), 1, 0));
    EXPECT_TRUE(spy->calls.empty());

    // A write opens (and truncates) through the same path.
    auto w = WriteStream(dir.File("out.bin"));
    ASSERT_TRUE(w);
    w->WriteString("zz");
    w->Close();
    EXPECT_EQ(ReadFileBytes(dir.File("out.bin")), "zz");

    // Protocol text is lower-cased, the path kept; the empty text asks every factory.
    EXPECT_FALSE(OpenUrlStream("NoSuCh::Some::Path", 1, 0));
    EXPECT_FALSE(OpenUrlStream("", 1, 0));
    EXPECT_FALSE(OpenUrlStream(std::shared_ptr<TStream>(), 1, 0));
    ASSERT_EQ(spy->calls.size(), 3u);
    EXPECT_EQ(spy->calls[0], "nosuch|Some::Path");
    EXPECT_EQ(spy->calls[1], "|");
    EXPECT_EQ(spy->calls[2], "|");
}

TEST(OpenUrl, IncbinServesEmbeddedFilesReadOnlyByExactName) {
    ASSERT_TRUE(kFontRegistered);
    static const char other[] = "BB";
    EXPECT_EQ(RegisterEmbeddedFile("gldrawtextfont.bin", other, 2), 0) << "the first registration stays";
    EXPECT_EQ(EmbeddedFileData("gldrawtextfont.bin"), kFont);
    EXPECT_EQ(EmbeddedFileData("GLDRAWTEXTFONT.BIN"), nullptr);
    EXPECT_EQ(EmbeddedFileSize("absent"), 0);
    auto s = OpenUrlStream("INCBIN::gldrawtextfont.bin", 1, 0);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->Size(), 10);
    EXPECT_EQ(s->ReadString(10), "font-bytes");
    EXPECT_FALSE(ReadStream("incbin::GLDRAWTEXTFONT.BIN"));
    EXPECT_FALSE(OpenUrlStream("incbin::gldrawtextfont.bin", 1, 1));
    EXPECT_FALSE(WriteStream("incbin::gldrawtextfont.bin"));

    static const char odd[] = "odd";
    EXPECT_FALSE(ReadStream("incbin::x::y"));
    EXPECT_EQ(RegisterEmbeddedFile("x::y", odd, 3), 1);
    auto o = ReadStream("incbin::x::y");
    ASSERT_TRUE(o);
    EXPECT_EQ(o->ReadString(3), "odd");
}

TEST(OpenUrl, AStreamIsWrappedAndClosingTheWrapperLeavesItOpen) {
    TempDir dir;
    WriteFileBytes(dir.File("s.bin"), "0123456789");
    auto file = TCStream::OpenFile(dir.File("s.bin"), 1, 0);
    ASSERT_TRUE(file);
    file->Seek(2);
    auto w = OpenUrlStream(file, 1, 0);
    ASSERT_TRUE(w);
    EXPECT_NE(w.get(), file.get());
    EXPECT_EQ(w->Pos(), 2);
    EXPECT_EQ(w->Size(), 10);
    EXPECT_EQ(w->ReadString(3), "234");
    EXPECT_EQ(w->ReadInt(), 0x38373635);
    EXPECT_THROW(w->ReadLong(), TStreamReadException) << "one byte left";
    EXPECT_EQ(w->Close(), 0);
    EXPECT_EQ(file->Pos(), 10) << "the failed read consumed the last byte";
    EXPECT_EQ(file->Seek(9), 9);
    EXPECT_EQ(file->ReadByte(), '9') << "the wrapped stream stays open";
    w.reset();
    EXPECT_NE(file->Handle(), nullptr);

    // A plain wrapper forwards Close to the stream it wraps.
    TStreamWrapper plain;
    plain.SetStream(file);
    plain.Close();
    EXPECT_EQ(file->Handle(), nullptr);
}
