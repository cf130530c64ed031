#include "gui/AppDelegate.hpp"

#include "core/Settings.hpp"
#include "core/UserDefaults.hpp"

#include <QApplication>

namespace plistable::gui {
namespace {

const std::string headerKey(settings::headerKey);

} // namespace

AppDelegate::AppDelegate(UserDefaults& defaults, QObject* parent) : QObject(parent), _defaults(defaults) {}

void AppDelegate::setHeaderCheckBtn(QCheckBox* checkBox)
{
    disconnect(_toggled);
    _headerCheckBtn = checkBox;
    if (checkBox == nullptr)
        return;
    // clicked, not stateChanged: only the user's toggles are stored, not the state that start-up
    // sets from the store (that would write the store at every launch).
    _toggled = connect(checkBox, &QCheckBox::clicked, this, [this, checkBox] { changeHeader(checkBox); });
}

void AppDelegate::applicationDidFinishLaunching()
{
    _defaults.registerDefaults({{headerKey, settings::headerDefault}});
    if (_headerCheckBtn)
        _headerCheckBtn->setCheckState(_defaults.boolForKey(headerKey) ? Qt::Checked : Qt::Unchecked);
    if (qApp != nullptr)
        QApplication::setQuitOnLastWindowClosed(applicationShouldTerminateAfterLastWindowClosed());
}

void AppDelegate::changeHeader(QCheckBox* sender)
{
    if (sender == nullptr)
        return;
    _defaults.setBool(headerKey, headerValueForState(sender->checkState()));
    _defaults.synchronize();
}

} // namespace plistable::gui
