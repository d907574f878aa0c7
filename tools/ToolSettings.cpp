#include "tools/ToolSettings.h"

#include "app/SettingsStore.h"
#include "app/components/SaveForm.h"
#include "platform/Registry.h"

#include <QGuiApplication>
#include <QWidget>

namespace tarnel {

namespace {

bool Open(Registry* registry, RegistryKey& k, const std::string& key, bool create)
{
    return registry && k.OpenKey("\\" + std::string(kSettingsRoot) + "\\" + key, create);
}

} // namespace

void RestoreToolPlacement(Registry* registry, const std::string& key, QWidget& window)
{
    if (!registry)
        return;
    RegistryKey k(*registry);
    if (!Open(registry, k, key, false))
        return;
    try {
        TSaveForm::RestorePlacement(window, ReadWindowPlacement(k));
    } catch (const RegistryError&) {
        // A damaged placement: the window keeps its designed one.
    }
}

void SaveToolPlacement(Registry* registry, const std::string& key, const QWidget& window)
{
    if (!registry)
        return;
    RegistryKey k(*registry);
    if (!Open(registry, k, key, true))
        return;
    try {
        WriteWindowPlacement(k, TSaveForm::ReadPlacement(window, QGuiApplication::applicationState()
                                                                     == Qt::ApplicationHidden));
    } catch (const RegistryError&) {
    }
}

bool ReadToolInteger(Registry* registry, const std::string& key, const std::string& name, int& value)
{
    if (!registry)
        return false;
    RegistryKey k(*registry);
    if (!Open(registry, k, key, false) || !k.ValueExists(name))
        return false;
    try {
        value = k.ReadInteger(name);
        return true;
    } catch (const RegistryError&) {
        return false;
    }
}

void WriteToolInteger(Registry* registry, const std::string& key, const std::string& name, int value)
{
    if (!registry)
        return;
    RegistryKey k(*registry);
    if (!Open(registry, k, key, true))
        return;
    try {
        k.WriteInteger(name, value);
    } catch (const RegistryError&) {
    }
}

} // namespace tarnel
