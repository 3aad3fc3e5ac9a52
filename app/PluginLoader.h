#pragma once

#include <QString>
#include <vector>

#include "PluginApi.h"

// A plug-in module found in the plug-in folder, loaded with dlopen.
struct LoadedPlugin {
    QString path;
    void* handle = nullptr;
    QString name;    // PluginName, converted from GBK
    QString detail;  // PluginDetail
    QString type;    // PluginType: the menu it goes under
    ledgerhost::PluginRunFn run = nullptr;
};

// Loads every module of the folder that exports the four entry points; a file
// that is not such a module is reported in `problems` and passed over.
std::vector<LoadedPlugin> loadPlugins(const QString& folder, QStringList* problems);
void unloadPlugins(std::vector<LoadedPlugin>& plugins);
