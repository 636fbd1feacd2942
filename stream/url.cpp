#include "stream/url.h"

#include "stream/cstream.h"
#include "stream/embedded.h"
#include "stream/ramstream.h"

namespace {
// The list starts with the built-in "incbin" factory; function-local so it
// exists whenever the first stream is opened, whatever the start-up order.
std::shared_ptr<TStreamFactory>& Head() {
    static std::shared_ptr<TStreamFactory> head = std::make_shared<TRamStreamFactory>();
    return head;
}
}  // namespace

std::shared_ptr<TStream> TStreamFactory::CreateStream(const TUrl&, const std::string&, const std::string&, int32_t,
                                                      int32_t) {
    throw TAbstractMethodError();
}

std::shared_ptr<TStream> TRamStreamFactory::CreateStream(const TUrl&, const std::string& protocol,
                                                         const std::string& path, int32_t readable, int32_t writeable) {
    if (protocol != "incbin" || writeable) return nullptr;
    const void* data = EmbeddedFileData(path);
    if (!data) return nullptr;
    return TRamStream::Create(data, EmbeddedFileSize(path), readable);
}

void RegisterStreamFactory(std::shared_ptr<TStreamFactory> factory) {
    if (!factory) return;
    factory->_succ = Head();
    Head() = std::move(factory);
}

std::shared_ptr<TStreamFactory> StreamFactories() { return Head(); }

std::shared_ptr<TStream> OpenUrlStream(const TUrl& url, int32_t readable, int32_t writeable) {
    if (url.Stream()) return TStreamStream::Create(url.Stream());

    const std::string& text = url.Text();
    // No file or protocol name holds a NUL: a C-string API below would stop there.
    if (text.find('\0') != std::string::npos) return nullptr;
    std::string protocol, path;
    if (!text.empty()) {
        size_t i = text.find("::");
        // A plain path never reaches the factories.
        if (i == std::string::npos) return TCStream::OpenFile(text, readable, writeable);
        protocol = text.substr(0, i);
        for (char& c : protocol)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        path = text.substr(i + 2);
    }
    for (auto f = Head(); f; f = f->Succ()) {
        if (auto s = f->CreateStream(url, protocol, path, readable, writeable)) return s;
    }
    return nullptr;
}

std::shared_ptr<TStream> ReadStream(const TUrl& url) { return OpenUrlStream(url, 1, 0); }
std::shared_ptr<TStream> WriteStream(const TUrl& url) { return OpenUrlStream(url, 0, 1); }
