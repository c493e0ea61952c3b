// Apply Beamforming through the view (click to result node: deep copy,
// worker thread, queued result, level window, node) against the service
// called directly with the same settings, DAS on 128 x 2048 raw samples.

#include "PAImageProcessing.h"
#include "PAImageProcessingTestSupport.h"

#include <QvexaRenderWindow.h>
#include <QvexaWorkbenchWindow.h>
#include <vexaImageSliceRendering.h>
#include <vexaRawPhotoacousticPhantom.h>

#include <vexaLevelWindow.h>
#include <vexaTestQtApplication.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QSpinBox>
#include <QTest>
#include <QWidget>

#include <benchmark/benchmark.h>

#include <thread>

namespace
{
  using vexa::test::ApplicationFirst;

  struct Setup
  {
    Setup()
    {
      raw = vexa::test::MakePointAbsorber(128, 2048, 19.2, 20.0);
      view = new PAImageProcessing;
      view->SetViewHost(&host);
      view->CreatePartControl(&parent);
      node = vexa::test::MakeNode(raw, "raw");
      host.m_Storage->AddNode(node);
      host.m_Selection = {node};
      view->NotifyNodeSelectionChanged(nullptr, host.m_Selection);
    }
    ApplicationFirst application; // before any widget
    vexa::test::TestViewHost host;
    QWidget parent;
    PAImageProcessing *view = nullptr;
    vexa::Image::Pointer raw;
    vexa::DataNode::Pointer node;
  };

  Setup &Shared()
  {
    static Setup *setup = new Setup;
    return *setup;
  }

  void BM_ServiceDirect(benchmark::State &state)
  {
    Setup &s = Shared();
    auto service = vexa::PhotoacousticFilterService::New();
    const auto settings = s.view->CreateBeamformingSettings(s.raw);
    for (auto _ : state)
      benchmark::DoNotOptimize(service->ApplyBeamforming(s.raw, settings, [](int, std::string) {}));
  }
  BENCHMARK(BM_ServiceDirect)->Unit(benchmark::kMillisecond)->UseRealTime();

  // The same call on a thread of its own, started and joined each time: the
  // part of the view's path that is the worker thread itself.
  void BM_ServiceOnAWorkerThread(benchmark::State &state)
  {
    Setup &s = Shared();
    auto service = vexa::PhotoacousticFilterService::New();
    const auto settings = s.view->CreateBeamformingSettings(s.raw);
    for (auto _ : state)
    {
      std::thread worker(
        [&] { benchmark::DoNotOptimize(service->ApplyBeamforming(s.raw, settings, [](int, std::string) {})); });
      worker.join();
    }
  }
  BENCHMARK(BM_ServiceOnAWorkerThread)->Unit(benchmark::kMillisecond)->UseRealTime();

  void BM_ViewApplyBeamforming(benchmark::State &state)
  {
    Setup &s = Shared();
    QAbstractButton *apply = s.view->GetControls()->buttonApplyBeamforming;
    for (auto _ : state)
    {
      QTest::mouseClick(apply, Qt::LeftButton);
      while (s.host.m_Storage->GetNumberOfNodes() == 1)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
      state.PauseTiming();
      s.host.m_Storage->RemoveNode(s.host.m_Storage->GetAll().back());
      while (s.view->HasRunningWork())
        QCoreApplication::processEvents();
      state.ResumeTiming();
    }
  }
  BENCHMARK(BM_ViewApplyBeamforming)->Unit(benchmark::kMillisecond)->UseRealTime();

  // The view's own parts of that path, one by one: the worker's image copy
  // and the result's automatic level window.
  void BM_DeepCopyOfTheRawImage(benchmark::State &state)
  {
    Setup &s = Shared();
    for (auto _ : state)
      benchmark::DoNotOptimize(s.raw->Clone());
  }
  BENCHMARK(BM_DeepCopyOfTheRawImage)->Unit(benchmark::kMillisecond)->UseRealTime();

  void BM_LevelWindowOfTheResult(benchmark::State &state)
  {
    Setup &s = Shared();
    auto service = vexa::PhotoacousticFilterService::New();
    const vexa::Image::Pointer result =
      service->ApplyBeamforming(s.raw, s.view->CreateBeamformingSettings(s.raw), [](int, std::string) {});
    for (auto _ : state)
    {
      vexa::LevelWindow levelWindow(127.5, 255);
      benchmark::DoNotOptimize(levelWindow.SetAuto(result, true, true, 0));
    }
  }
  BENCHMARK(BM_LevelWindowOfTheResult)->Unit(benchmark::kMillisecond)->UseRealTime();

  // The large result of the benchmarks below, made once: the phantom by sDMAS in 2048 lines of 16384 samples.
  vexa::Image::Pointer LargeResult()
  {
    static const vexa::Image::Pointer result = [] {
      Setup &s = Shared();
      Ui::PAImageProcessingControls *form = s.view->GetControls();
      form->BFAlgorithm->setCurrentText("sDMAS");
      form->Samples->setValue(16384);
      form->Lines->setValue(2048);
      const vexa::Image::Pointer raw = vexa::RawPhotoacousticPhantom::Make();
      const auto settings = s.view->CreateBeamformingSettings(raw);
      form->BFAlgorithm->setCurrentText("DAS");
      form->Samples->setValue(2048);
      form->Lines->setValue(256);
      return vexa::PhotoacousticFilterService::New()->ApplyBeamforming(raw, settings, [](int, std::string) {});
    }();
    return result;
  }

  // Its parts: the automatic level window and the picture at screen size.
  void BM_LevelWindowOfTheLargeResult(benchmark::State &state)
  {
    const vexa::Image::Pointer result = LargeResult();
    for (auto _ : state)
    {
      vexa::LevelWindow levelWindow(127.5, 255);
      benchmark::DoNotOptimize(levelWindow.SetAuto(result, true, true, 0));
    }
  }
  BENCHMARK(BM_LevelWindowOfTheLargeResult)->Unit(benchmark::kMillisecond)->UseRealTime();

  void BM_PictureOfTheLargeResult(benchmark::State &state)
  {
    const vexa::Image::Pointer result = LargeResult();
    vexa::LevelWindow levelWindow;
    levelWindow.SetAuto(result);
    QImage picture;
    for (auto _ : state)
      benchmark::DoNotOptimize(vexa::RenderImageSlice(result, levelWindow, picture, QSize(710, 740)));
  }
  BENCHMARK(BM_PictureOfTheLargeResult)->Unit(benchmark::kMillisecond)->UseRealTime();

  // Sees the render window's paint events: `drawn` once one of them draws a node.
  class FirstFrame : public QObject
  {
  public:
    explicit FirstFrame(QvexaRenderWindow *render) : m_Render(render) { render->installEventFilter(this); }
    bool drawn = false;

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
      if (watched == m_Render && event->type() == QEvent::Paint && m_Render->GetShownNode())
        drawn = true;
      return false;
    }

  private:
    QvexaRenderWindow *m_Render;
  };

  // A large result in the workbench: an sDMAS reconstruction of 2048 lines x
  // 16384 samples (float, 128 MiB) handed to the view's HandleResults as the
  // worker's queued signal hands it, timed until the render window has drawn
  // it. All of it runs on the GUI thread, so this is how long the workbench
  // does not answer.
  void BM_LargeResultToFirstFrame(benchmark::State &state)
  {
    Shared(); // the application first
    QvexaWorkbenchWindow window;
    window.resize(1200, 800);
    window.show();
    PAImageProcessing *view = new PAImageProcessing;
    view->SetViewHost(&window);
    QWidget parent;
    view->CreatePartControl(&parent);
    const vexa::Image::Pointer result = LargeResult();
    if (result->GetDimension(0) != 2048 || result->GetDimension(1) != 16384)
    {
      state.SkipWithError("the reconstruction does not have 2048 x 16384 pixels");
      return;
    }
    FirstFrame frame(window.GetRenderWindow());
    vexa::DataStorage::Pointer storage = window.GetDataStorage();
    for (auto _ : state)
    {
      state.PauseTiming();
      // a new image each time, as each run makes one
      const vexa::Image::Pointer copy = result->Clone();
      frame.drawn = false;
      state.ResumeTiming();
      // the storage is empty: the first node drawn is the result
      QMetaObject::invokeMethod(view, "HandleResults", Qt::QueuedConnection, Q_ARG(vexa::Image::Pointer, copy),
                                Q_ARG(std::string, "_bf"));
      while (!frame.drawn)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
      state.PauseTiming();
      for (const vexa::DataNode::Pointer &node : storage->GetAll())
        storage->RemoveNode(node);
      QCoreApplication::processEvents();
      state.ResumeTiming();
    }
    delete view;
  }
  BENCHMARK(BM_LargeResultToFirstFrame)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
}

BENCHMARK_MAIN();
