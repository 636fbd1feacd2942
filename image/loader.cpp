#include "image/loader.h"

#include "image/png.h"
#include "runtime/errors.h"

namespace {
// Built on first use with the PNG loader in it, so the chain is complete
// whatever order the libraries start in.
std::shared_ptr<TPixmapLoader>& Head() {
    static std::shared_ptr<TPixmapLoader> head = std::make_shared<TPixmapLoaderPNG>();
    return head;
}

// Closes the stream however the scope is left.
struct TCloseOnExit {
    TStream& stream;
    ~TCloseOnExit() { stream.Close(); }
};
}  // namespace

std::shared_ptr<TPixmap> TPixmapLoader::LoadPixmap(const std::shared_ptr<TStream>&) { throw TAbstractMethodError(); }

void RegisterPixmapLoader(std::shared_ptr<TPixmapLoader> loader) {
    if (!loader) return;
    loader->_succ = Head();
    Head() = std::move(loader);
}

std::shared_ptr<TPixmapLoader> PixmapLoaders() { return Head(); }

std::shared_ptr<TPixmap> LoadPixmapFrom(const TUrl& url) {
    std::shared_ptr<TStream> stream = OpenUrlStream(url, 1, 0);
    if (!stream) return nullptr;
    TCloseOnExit closer{*stream};
    const int32_t start = stream->Pos();
    // A stream that cannot tell its position cannot be rewound between loaders.
    if (start == -1) return nullptr;
    for (auto loader = Head(); loader; loader = loader->Succ()) {
        stream->Seek(start);
        try {
            if (auto pixmap = loader->LoadPixmap(stream)) return pixmap;
        } catch (const TStreamException&) {
            // The data ended or could not be read: this loader refuses.
        }
    }
    return nullptr;
}
