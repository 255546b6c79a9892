#include "demo_screenshot.h"

#include <QTreeWidget>

#include "Unit1.h"

namespace {

bool SelectItem(TForm1 &form, const QString &caption) {
    const auto found = form.ListView1->findItems(caption, Qt::MatchExactly, kColumnFile);
    if (found.isEmpty()) return false;
    form.ListView1->clearSelection();
    found.first()->setSelected(true);
    form.ListView1->setCurrentItem(found.first());
    form.ListView1Click();
    return true;
}

}  // namespace

bool ShowDemoScene(TForm1 &form) {
    form.BitBtn7Click();
    if (!SelectItem(form, QStringLiteral("PRG"))) return false;
    form.ListView1DblClick();
    if (!SelectItem(form, QStringLiteral("O0001.CNC"))) return false;
    // Read without the confirmation box the double-click asks.
    return form.ReadNcFile(form.DeviceId, form.CurrentNcPath + form.SelectedFileName) == 0;
}
