#include "linux/WindowBuffer.h"

#include <QBackingStore>
#include <QGuiApplication>
#include <QImage>
#include <QThreadPool>
#include <qpa/qplatformbackingstore.h>

#include <sys/mman.h>
#include <unistd.h>

namespace WindowBuffer {

void prepare(QBackingStore* store, const QSize& size)
{
    // Other platforms make their buffers when painting starts, and have none to map before.
    if (!store || !store->handle() || size.isEmpty() || QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    // What painting would do first: the buffer is made at the window's size.
    if (store->size() != size)
        store->resize(size);
    const QPaintDevice* device = store->handle()->paintDevice();
    if (!device || device->devType() != QInternal::Image)
        return;
    const auto* image = static_cast<const QImage*>(device);
    const auto page = quintptr(sysconf(_SC_PAGESIZE));
    const quintptr begin = quintptr(image->constBits()) & ~(page - 1);
    const quintptr end = quintptr(image->constBits()) + quintptr(image->sizeInBytes());
    if (!image->constBits() || end <= begin)
        return;
    // Mapping writes nothing, so the window's thread may paint meanwhile; a buffer already
    // replaced or gone only makes the call fail. Not on the shared pool: the toolkit splits large
    // fills over all of its threads and waits for the last.
    static QThreadPool* mapper = [] {
        auto* pool = new QThreadPool(QCoreApplication::instance());
        pool->setMaxThreadCount(1);
        pool->setExpiryTimeout(-1);
        return pool;
    }();
    mapper->start([begin, end] { madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE); });
}

} // namespace WindowBuffer
