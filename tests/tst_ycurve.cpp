#include "ycurve.h"

#include <QTest>

class TestYCurve : public QObject
{
    Q_OBJECT

private slots:
    void untrainedIsIdentity();
};

void TestYCurve::untrainedIsIdentity()
{
    YCurve curve(0, 255);
    for (int x = 0; x <= 255; ++x)
        QCOMPARE(curve.valueAt(x), x);
}

QTEST_GUILESS_MAIN(TestYCurve)
#include "tst_ycurve.moc"
