// An image-format plugin that only marks, beside itself, that its code ran and as which user:
// standing for whatever a plugin of someone else's would do in the program.

#include <QImageIOPlugin>

#include <string>

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

__attribute__((constructor)) void MarkLoaded()
{
    Dl_info info = {};
    if (::dladdr(reinterpret_cast<void *>(&MarkLoaded), &info) == 0 || !info.dli_fname)
        return;
    std::string mark = info.dli_fname;
    mark = mark.substr(0, mark.rfind('/')) + "/loaded-by-" + std::to_string(::geteuid());
    const int fd = ::open(mark.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0)
        ::close(fd);
}

} // namespace

class TMarkerImagePlugin : public QImageIOPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QImageIOHandlerFactoryInterface_iid FILE "MarkerImagePlugin.json")
public:
    Capabilities capabilities(QIODevice *, const QByteArray &) const override { return {}; }
    QImageIOHandler *create(QIODevice *, const QByteArray &) const override { return nullptr; }
};

#include "MarkerImagePlugin.moc"
