#pragma once

#include <QCheckBox>
#include <QObject>
#include <QPointer>
#include <QWidget>

namespace plistable {
class UserDefaults;
}

namespace plistable::gui {

/// Owns the life of the "header" setting: registers its default at start, shows the stored value
/// in the check box and stores the box's state every time the user toggles it. Holds references
/// to the window and the check box without owning them.
class AppDelegate : public QObject {
    Q_OBJECT

public:
    /// A delegate keeping the setting in `defaults`, which must outlive it.
    explicit AppDelegate(UserDefaults& defaults, QObject* parent = nullptr);

    /// The header check box, or null when none is set (or it was destroyed).
    QCheckBox* headerCheckBtn() const { return _headerCheckBtn; }

    /// Sets the header check box and makes each user toggle of it call changeHeader.
    void setHeaderCheckBtn(QCheckBox* checkBox);

    /// The main window, or null. Only kept for others to find; the delegate does not use it.
    QWidget* window() const { return _window; }
    void setWindow(QWidget* window) { _window = window; }

    /// Start-up: registers "header" = false as the default, sets the check box from the stored
    /// value, and makes the application end when its last window closes.
    void applicationDidFinishLaunching();

    /// Always true: closing the last window ends the application.
    static bool applicationShouldTerminateAfterLastWindowClosed() { return true; }

    /// The stored value for a check box state: true only for Qt::Checked.
    static bool headerValueForState(Qt::CheckState state) { return state == Qt::Checked; }

public slots:
    /// Stores the state of `sender` (the box that was toggled) as "header" and writes the store at
    /// once. A failed write is not reported: the value still holds for this run.
    void changeHeader(QCheckBox* sender);

private:
    UserDefaults& _defaults;
    QPointer<QCheckBox> _headerCheckBtn;
    QPointer<QWidget> _window;
    QMetaObject::Connection _toggled;
};

} // namespace plistable::gui
