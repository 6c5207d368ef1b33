#include "app/UTrayIcon.h"

#include <QAction>
#include <QtGlobal>

namespace tovalink {

namespace {

// Checked before anything is built, in release builds too: an icon without either part would
// sit in the notification area with nothing to show or nothing to do.
const QIcon& RequireParts(const QIcon& icon, const QMenu* menu) {
  if (icon.isNull()) qFatal("UTrayIcon: a tray icon is created without an icon");
  if (menu == nullptr) qFatal("UTrayIcon: a tray icon is created without a popup menu");
  return icon;
}

}  // namespace

TTrayIcon::TTrayIcon(const QIcon& icon, QMenu* menu, const QString& hint, QObject* parent)
    : QObject(parent), icon_(RequireParts(icon, menu)), menu_(menu), tray_(icon_) {
  SetHint(hint);
  tray_.setContextMenu(menu_);
  connect(&tray_, &QSystemTrayIcon::activated, this, &TTrayIcon::Activate);
  tray_.show();
}

TTrayIcon::~TTrayIcon() { tray_.hide(); }

void TTrayIcon::SetHint(const QString& hint) {
  hint_ = hint.left(kTrayHintLength);
  tray_.setToolTip(hint_);
}

bool TTrayIcon::Placed() const {
  return QSystemTrayIcon::isSystemTrayAvailable() && tray_.isVisible();
}

void TTrayIcon::Activate(QSystemTrayIcon::ActivationReason reason) {
  if (reason != QSystemTrayIcon::DoubleClick) return;
  if (QAction* entry = menu_->defaultAction()) entry->trigger();
}

}  // namespace tovalink
