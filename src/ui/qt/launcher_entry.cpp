#include "launcher_entry.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>

namespace quorvil {

void ShowOnLauncherEntry(double fraction, bool visible)
{
    QDBusMessage update = QDBusMessage::createSignal("/com/canonical/unity/launcherentry/quorvil",
                                                     "com.canonical.Unity.LauncherEntry", "Update");
    update << QString("application://quorvil.desktop")
           << QVariantMap{{"progress", fraction}, {"progress-visible", visible}};
    QDBusConnection::sessionBus().send(update);
}

} // namespace quorvil
