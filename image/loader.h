#pragma once
// The chain of image loaders and loading a pixmap from a URL through it.

#include <memory>

#include "image/pixmap.h"
#include "stream/stream.h"
#include "stream/url.h"

// Reads one image format from a stream. Loaders form a list asked from the
// head; the one registered last is asked first.
class TPixmapLoader {
public:
    TPixmapLoader() = default;
    TPixmapLoader(const TPixmapLoader&) = delete;
    TPixmapLoader& operator=(const TPixmapLoader&) = delete;
    virtual ~TPixmapLoader() = default;

    // The image read from stream, or null when the data is not this
    // loader's format. Abstract here.
    virtual std::shared_ptr<TPixmap> LoadPixmap(const std::shared_ptr<TStream>& stream);

    // The next loader of the list, null at the end.
    const std::shared_ptr<TPixmapLoader>& Succ() const { return _succ; }

private:
    friend void RegisterPixmapLoader(std::shared_ptr<TPixmapLoader> loader);
    std::shared_ptr<TPixmapLoader> _succ;
};

// Links loader in at the head of the list. The PNG loader is always there.
void RegisterPixmapLoader(std::shared_ptr<TPixmapLoader> loader);
// The head of the loader list.
std::shared_ptr<TPixmapLoader> PixmapLoaders();

// Opens url for reading and asks each loader in turn; null when none reads
// it. Stream errors count as a loader's refusal; the stream opened here is
// closed on every path (a stream passed in is wrapped and stays open).
std::shared_ptr<TPixmap> LoadPixmapFrom(const TUrl& url);
