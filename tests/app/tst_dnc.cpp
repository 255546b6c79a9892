#include <QTest>
class DncTest : public QObject {
    Q_OBJECT
};
QTEST_MAIN(DncTest)
#include "tst_dnc.moc"
