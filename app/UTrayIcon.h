#pragma once
// TTrayIcon: the module's icon in the desktop's notification area, with its hint and popup
// menu. The icon is a copy of the one given; the menu is not owned and must outlive the
// component. The icon is removed from the notification area when the component is destroyed.
// User-interface thread only.

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QString>
#include <QSystemTrayIcon>

namespace tovalink {

// The notification area shows at most this many characters of a hint.
inline constexpr int kTrayHintLength = 63;

class TTrayIcon : public QObject {
 public:
  // Both `icon` and `menu` must be given: creating the component without either is a
  // programming error and ends the program with a message naming UTrayIcon.
  TTrayIcon(const QIcon& icon, QMenu* menu, const QString& hint, QObject* parent = nullptr);
  ~TTrayIcon() override;
  TTrayIcon(const TTrayIcon&) = delete;
  TTrayIcon& operator=(const TTrayIcon&) = delete;

  // The hint as shown: cut to kTrayHintLength characters.
  void SetHint(const QString& hint);
  QString Hint() const { return hint_; }
  QIcon Icon() const { return icon_; }
  QMenu* Menu() const { return menu_; }
  // Whether the icon stands in a notification area (false where the desktop has none).
  bool Placed() const;

  // A mouse notification from the notification area. A primary double-click runs the menu's
  // default entry, if the menu has one; the secondary button opens the menu at the pointer
  // (the platform does that for the context menu set on the icon); others are left alone.
  void Activate(QSystemTrayIcon::ActivationReason reason);

 private:
  QIcon icon_;
  QMenu* menu_;
  QString hint_;
  QSystemTrayIcon tray_;
};

}  // namespace tovalink
