// A Qt Test program whose functions pass, skip or fail on demand (chosen by
// name on the command line), for checking how ctest reports such runs.
#include <QObject>
#include <QTest>

class SkipProbe : public QObject {
    Q_OBJECT
private slots:
    void passing() { QVERIFY(true); }
    void skipped() { QSKIP("port 417 is taken here"); }
    void failing() { QFAIL("on purpose"); }
};

QTEST_GUILESS_MAIN(SkipProbe)
#include "skip_probe.moc"
