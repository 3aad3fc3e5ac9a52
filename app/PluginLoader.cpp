#include "PluginLoader.h"

#include <dlfcn.h>

#include <QDir>
#include <QStringList>

#include "Codec.h"

using namespace ledgerhost;

namespace {

QString callText(void* fn) {
    HostStr s = nullptr;
    reinterpret_cast<PluginTextFn>(fn)(&s);
    QString text = QString::fromStdString(gbkToUtf8(hostStrValue(s)));
    hostStrRelease(&s);
    return text;
}

}  // namespace

std::vector<LoadedPlugin> loadPlugins(const QString& folder, QStringList* problems) {
    std::vector<LoadedPlugin> out;
    QDir dir(folder);
    for (const QFileInfo& f : dir.entryInfoList({"*.so"}, QDir::Files, QDir::Name)) {
        QByteArray path = f.absoluteFilePath().toLocal8Bit();
        void* h = dlopen(path.constData(), RTLD_NOW | RTLD_LOCAL);
        if (!h) {
            if (problems) *problems << f.fileName() + ": " + QString::fromLocal8Bit(dlerror());
            continue;
        }
        void* name = dlsym(h, "PluginName");
        void* detail = dlsym(h, "PluginDetail");
        void* type = dlsym(h, "PluginType");
        void* run = dlsym(h, "PluginRun");
        if (!name || !detail || !type || !run) {
            if (problems) *problems << f.fileName() + ": 不是插件（缺少导出函数）";
            dlclose(h);
            continue;
        }
        LoadedPlugin p;
        p.path = f.absoluteFilePath();
        p.handle = h;
        p.name = callText(name);
        p.detail = callText(detail);
        p.type = callText(type);
        p.run = reinterpret_cast<PluginRunFn>(run);
        out.push_back(p);
    }
    return out;
}

void unloadPlugins(std::vector<LoadedPlugin>& plugins) {
    for (auto& p : plugins)
        if (p.handle) dlclose(p.handle);
    plugins.clear();
}
