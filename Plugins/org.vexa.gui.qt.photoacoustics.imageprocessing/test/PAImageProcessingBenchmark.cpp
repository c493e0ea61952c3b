// Apply Beamforming through the view (click to result node: deep copy,
// worker thread, queued result, level window, node) against the service
// called directly with the same settings, DAS on 128 x 2048 raw samples.

#include "PAImageProcessing.h"
#include "PAImageProcessingTestSupport.h"

#include <vexaLevelWindow.h>
#include <vexaTestQtApplication.h>

#include <QCoreApplication>
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
}

BENCHMARK_MAIN();
