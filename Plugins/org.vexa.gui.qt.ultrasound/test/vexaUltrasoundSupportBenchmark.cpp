// The view's pipeline tick: its cost against the number of outputs and the
// frame size, beside the device's own update; and whether memory grows over
// many ticks and re-activations.

#include "QvexaUltrasoundSupport.h"

#include <vexaTestQtApplication.h>
#include <vexaTestThisProcess.h>
#include <vexaUSDeviceTestSupport.h>

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCoreApplication>
#include <QMetaObject>
#include <QWidget>

#include <malloc.h>

#include <memory>
#include <string>

namespace
{
  // the view's settings stay out of the user's own (in the test application's folder)
  QApplication *Application()
  {
    static QApplication *app = [] {
      QApplication *a = vexa::test::QtApplication::WithGuiThreadCallback();
      QCoreApplication::setOrganizationName("VexaBenchmarks");
      QCoreApplication::setApplicationName("UltrasoundSupportBenchmark");
      return a;
    }();
    return app;
  }

  using vexa::test::ResidentKiB;

  /** Bytes of the heap in use (glibc), in KiB: growth here is memory kept, not the allocator's slack. */
  double HeapInUseKiB() { return static_cast<double>(mallinfo2().uordblks) / 1024.0; }

  /** A built view, timers off (ticks are driven here), on a test device of `outputs` outputs. */
  struct Streaming
  {
    explicit Streaming(unsigned int outputs) : app(Application()), parent(std::make_unique<QWidget>())
    {
      device = vexa::test::USTestDevice::New(outputs);
      device->Initialize();
      device->Connect();
      device->Activate();
      view = new QvexaUltrasoundSupport();
      view->CreatePartControl(parent.get());
      // the run box off: the view builds nodes and panels, the ticks are ours
      QMetaObject::invokeMethod(view, "StopTimers");
      QCoreApplication::processEvents();
    }
    ~Streaming()
    {
      delete view;
      device->UnregisterOnService();
      QCoreApplication::processEvents();
    }
    void Tick() { QMetaObject::invokeMethod(view, "UpdateImage", Qt::DirectConnection); }
    void Push(unsigned int width, unsigned int height, unsigned char value)
    {
      for (unsigned int i = 0; i < device->GetNumberOfIndexedOutputs(); ++i)
        device->PushFrame(i, width, height, value);
    }

    QApplication *app;
    std::unique_ptr<QWidget> parent;
    vexa::test::USTestDevice::Pointer device;
    QvexaUltrasoundSupport *view = nullptr;
  };
}

// A tick with a new frame on every output (the device's hand-over included).
static void Tick(benchmark::State &state)
{
  Streaming s(static_cast<unsigned int>(state.range(0)));
  const auto width = static_cast<unsigned int>(state.range(1)), height = static_cast<unsigned int>(state.range(2));
  unsigned char value = 0;
  for (auto _ : state)
  {
    state.PauseTiming();
    s.Push(width, height, ++value);
    state.ResumeTiming();
    s.Tick();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(Tick)
  ->Args({1, 640, 480})
  ->Args({3, 640, 480})
  ->Args({1, 1920, 1080})
  ->Args({3, 1920, 1080})
  ->Unit(benchmark::kMicrosecond);

// The device's own part of a tick: Modified() and Update() with a new frame on every output.
static void DeviceUpdate(benchmark::State &state)
{
  Streaming s(static_cast<unsigned int>(state.range(0)));
  const auto width = static_cast<unsigned int>(state.range(1)), height = static_cast<unsigned int>(state.range(2));
  unsigned char value = 0;
  for (auto _ : state)
  {
    state.PauseTiming();
    s.Push(width, height, ++value);
    state.ResumeTiming();
    s.device->Modified();
    s.device->Update();
  }
}
BENCHMARK(DeviceUpdate)
  ->Args({1, 640, 480})
  ->Args({3, 640, 480})
  ->Args({1, 1920, 1080})
  ->Args({3, 1920, 1080})
  ->Unit(benchmark::kMicrosecond);

// Memory after 10,000 ticks and after 100 re-activations (counters in KiB;
// the first rounds warm up caches and allocators).
static void MemoryOverTicksAndActivations(benchmark::State &state)
{
  for (auto _ : state)
  {
    Streaming s(2);
    for (int i = 0; i < 500; ++i)
    {
      s.Push(640, 480, static_cast<unsigned char>(i));
      s.Tick();
    }
    const long before = ResidentKiB();
    for (int i = 0; i < 10000; ++i)
    {
      s.Push(640, 480, static_cast<unsigned char>(i));
      s.Tick();
    }
    const long afterTicks = ResidentKiB();
    auto activate = [&s](int times) {
      for (int i = 0; i < times; ++i)
      {
        QMetaObject::invokeMethod(s.view, "OnChangedActiveDevice");
        QMetaObject::invokeMethod(s.view, "StopTimers");
        s.Tick();
        // what the event loop does between two activations (Qt widgets delete some parts later)
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
      }
    };
    activate(100); // warm-up: the panels' first forms fill Qt's caches
    const long afterFirstActivations = ResidentKiB();
    const double heapBefore = HeapInUseKiB();
    activate(100);
    const long afterActivations = ResidentKiB();
    state.counters["heap_growth_100_activations_KiB"] = HeapInUseKiB() - heapBefore;
    state.counters["growth_10000_ticks_KiB"] = static_cast<double>(afterTicks - before);
    state.counters["first_100_activations_KiB"] = static_cast<double>(afterFirstActivations - afterTicks);
    state.counters["growth_100_activations_KiB"] = static_cast<double>(afterActivations - afterFirstActivations);
  }
}
BENCHMARK(MemoryOverTicksAndActivations)->Iterations(1)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
