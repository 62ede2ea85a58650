#include "data/FlowDataReady.h"
#include "data/FlowDataWorkerScalar.h"
#include "data/FlowDataWorkerVector.h"
#include "tests/common/FakeFlowData.h"

#include <QCoreApplication>
#include <QSemaphore>
#include <QTest>

#include <chrono>
#include <memory>
#include <thread>

namespace {

// A data set whose rasters hold the number of the call that computed them.
struct CountingFlowData : FakeFlowData
{
    explicit CountingFlowData(int scalarSetCount) : FakeFlowData(1.0f, {}, scalarSetCount)
    {
        field = [this](double, double) { return Vector3(float(requests().size()), 0, 0); };
        scalar = [this](int, double, double) { return float(requests().size()); };
    }
};

// Counts completion events.
struct Receiver : QObject
{
    int events = 0;
    void customEvent(QEvent* event) override { events += event->type() == FlowDataReady ? 1 : 0; }
};

// A worker whose thread waits on `beforeRun` before the real run takes the
// lock: the window in which a request is pending but not yet read.
template <class Worker> struct Held : Worker
{
    using Worker::Worker;
    ~Held() override { this->wait(); }
    QSemaphore beforeRun;
    void run() override
    {
        beforeRun.acquire();
        Worker::run();
    }
};

// Releases a semaphore after a delay from another thread, so that the GUI
// thread is already blocked in the call under test when the worker goes on.
struct DelayedRelease
{
    DelayedRelease(QSemaphore& semaphore, int count = 1)
        : thread([&semaphore, count] {
              std::this_thread::sleep_for(std::chrono::milliseconds(50));
              semaphore.release(count);
          })
    {
    }
    ~DelayedRelease() { thread.join(); }
    std::thread thread;
};

bool waitForEvents(const Receiver& receiver, int count)
{
    return QTest::qWaitFor([&] { return receiver.events >= count; }, 20000);
}

} // namespace

class TestFlowDataWorker : public QObject
{
    Q_OBJECT

private slots:
    void requestsWhilePendingCoalesce();
    void requestDuringComputationStartsOneMore();
    void parameterChangeDropsUntakenRaster();
    void unusableParametersComputeNothing_data();
    void unusableParametersComputeNothing();
    void destructionWaitsForComputation();
    void quickVectorStartsDoNotHang();
};

void TestFlowDataWorker::requestsWhilePendingCoalesce()
{
    CountingFlowData data(4);
    Receiver receiver;
    Held<FlowDataWorkerScalar> worker(&receiver);
    worker.setFlowData(&data, 0);
    worker.setRasterSize(5, 4);

    worker.startIfIdle();
    for (int index = 1; index <= 3; ++index) {
        worker.setScalarIndex(index);
        worker.startIfIdle();
    }
    worker.beforeRun.release();
    QVERIFY(waitForEvents(receiver, 1));
    worker.wait();

    QCOMPARE(data.requests().size(), 1);
    QCOMPARE(data.requests()[0].index, 3);
}

void TestFlowDataWorker::requestDuringComputationStartsOneMore()
{
    CountingFlowData data(2);
    Receiver receiver;
    FlowDataWorkerScalar worker(&receiver);
    worker.setFlowData(&data, 1);
    worker.setRasterSize(8, 6);

    data.holding = true;
    worker.startIfIdle();
    data.entered.acquire();
    data.holding = false;
    {
        // The setter blocks until the held computation ends.
        DelayedRelease release(data.proceed);
        worker.setRasterSize(3, 2);
        for (int i = 0; i < 3; ++i)
            worker.startIfIdle();
    }
    worker.wait();
    QVERIFY(waitForEvents(receiver, 2));

    const QList<FakeFlowData::Request> asked = data.requests();
    QVERIFY2(asked.size() >= 2, "the request after the running computation was lost");
    QCOMPARE(asked[0].width, 8);
    QCOMPARE(asked[1].width, 3);
    QCOMPARE(asked[1].height, 2);
}

void TestFlowDataWorker::parameterChangeDropsUntakenRaster()
{
    CountingFlowData data(3);
    Receiver receiver;
    FlowDataWorkerScalar worker(&receiver);
    worker.setFlowData(&data, 0);
    worker.setRasterSize(4, 4);
    worker.startIfIdle();
    worker.wait();

    worker.setScalarIndex(2);
    QSize size(7, 7);
    QVERIFY2(!worker.takeResult(&size), "a raster of the previous field was handed out");
    QVERIFY(!size.isValid());

    // Setting the same values keeps a finished raster.
    worker.startIfIdle();
    worker.wait();
    worker.setScalarIndex(2);
    worker.setRasterSize(4, 4);
    float* raster = worker.takeResult();
    QVERIFY(raster);
    delete[] raster;
}

void TestFlowDataWorker::unusableParametersComputeNothing_data()
{
    QTest::addColumn<int>("scalarSets");
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("withData");
    QTest::addColumn<QSize>("raster");
    QTest::addColumn<QString>("diagnostic");

    QTest::newRow("usable parameters") << 2 << 1 << true << QSize(6, 5) << QString();
    QTest::newRow("index one past a smaller data set")
        << 1 << 1 << true << QSize(6, 5) << QString();
    QTest::newRow("no data set") << 2 << 0 << false << QSize(6, 5) << QString();
    QTest::newRow("empty raster") << 2 << 0 << true << QSize(0, 10) << QString();
    QTest::newRow("raster beyond the memory cap")
        << 2 << 0 << true << QSize(40000, 40000)
        << QStringLiteral("FlowDataWorkerScalar/run: cannot allocate 40000 x 40000 samples");
}

void TestFlowDataWorker::unusableParametersComputeNothing()
{
    QFETCH(int, scalarSets);
    QFETCH(int, index);
    QFETCH(bool, withData);
    QFETCH(QSize, raster);
    QFETCH(QString, diagnostic);
    const bool usable = QByteArray(QTest::currentDataTag()) == "usable parameters";

    CountingFlowData previous(3);
    CountingFlowData data(scalarSets);
    Receiver receiver;
    FlowDataWorkerScalar worker(&receiver);
    worker.setFlowData(&previous, index);
    worker.setFlowData(withData ? &data : nullptr); // keeps the index
    worker.setRasterSize(raster.width(), raster.height());
    if (!diagnostic.isEmpty())
        QTest::ignoreMessage(QtDebugMsg, qPrintable(diagnostic));

    worker.startIfIdle();
    worker.wait();
    QCoreApplication::processEvents();
    QCOMPARE(receiver.events, usable ? 1 : 0);
    QCOMPARE(data.requests().size(), usable ? 1 : 0);
    delete[] worker.takeResult();

    // Nothing stays pending: usable parameters are computed at once.
    worker.setFlowData(&data, 0);
    worker.setRasterSize(3, 3);
    worker.startIfIdle();
    worker.wait();
    QCOMPARE(data.requests().size(), usable ? 2 : 1);
    QCOMPARE(data.requests().last().index, 0);
    delete[] worker.takeResult();
}

void TestFlowDataWorker::destructionWaitsForComputation()
{
    CountingFlowData data(1);
    Receiver receiver;
    {
        // Declared first so that it is joined after both destructors ran.
        std::unique_ptr<DelayedRelease> release;
        FlowDataWorkerVector vectors(&receiver);
        FlowDataWorkerScalar scalars(&receiver);
        vectors.setFlowData(&data);
        vectors.setRasterSize(20, 20);
        scalars.setFlowData(&data, 0);
        scalars.setRasterSize(20, 20);
        data.holding = true;
        vectors.start();
        scalars.startIfIdle();
        data.entered.acquire(2);
        data.holding = false;
        release = std::make_unique<DelayedRelease>(data.proceed, 2);
        // Both computations end inside the destructors; their untaken rasters
        // are freed there (the leak checker of the sanitizer build sees it).
    }
    QCOMPARE(data.requests().size(), 2);
    QVERIFY(waitForEvents(receiver, 2));
}

void TestFlowDataWorker::quickVectorStartsDoNotHang()
{
    CountingFlowData data(1);
    Receiver receiver;
    Held<FlowDataWorkerVector> worker(&receiver);
    worker.setFlowData(&data);
    worker.setRasterSize(20, 20);
    {
        // The first run has not taken the lock when the second start comes;
        // the second start must let it (a hang fails on the test timeout).
        worker.start();
        DelayedRelease release(worker.beforeRun, 2);
        worker.setRasterSize(30, 10);
        worker.start();
        worker.wait();
    }
    QCOMPARE(data.requests().size(), 2);
    QCOMPARE(data.requests()[1].width, 30);
    QCOMPARE(data.requests()[1].height, 10);
    QSize size;
    Vector3* raster = worker.takeResult(&size);
    QVERIFY(raster);
    QCOMPARE(size, QSize(30, 10));
    QCOMPARE(raster[299].x, 2.0f);
    delete[] raster;
}

QTEST_GUILESS_MAIN(TestFlowDataWorker)
#include "tst_flowdataworker.moc"
