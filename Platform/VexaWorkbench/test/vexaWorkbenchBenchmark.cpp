#include "vexaWorkbenchTestSupport.h"

#include <vexaDataStorage.h>
#include <vexaImageSliceRendering.h>

#include <benchmark/benchmark.h>

#include <QImage>
#include <QPainter>

#include <cmath>

// A repaint of the render window: the slice through the level window at
// the window's resolution (900 x 900), then copied into the window.
static void RenderWindowRepaintFloat1024(benchmark::State &state)
{
  std::vector<float> values(1024 * 1024);
  for (std::size_t i = 0; i < values.size(); ++i)
    values[i] = std::sin(i * 0.001f) * 1000.f;
  const auto image = vexa::test::MakeImage(values, 1024, 1024);
  vexa::LevelWindow window;
  window.SetAuto(image);
  QImage slice;
  QImage target(900, 900, QImage::Format_RGB32);
  for (auto _ : state)
  {
    vexa::RenderImageSlice(image, window, slice, QSize(900, 900));
    QPainter painter(&target);
    painter.fillRect(target.rect(), Qt::black);
    painter.drawImage(QRect(0, 0, 900, 900), slice);
    benchmark::DoNotOptimize(target.constBits());
  }
  state.SetItemsProcessed(state.iterations() * 900 * 900);
}
BENCHMARK(RenderWindowRepaintFloat1024)->Unit(benchmark::kMillisecond);

static void DataStorageLookUp(benchmark::State &state)
{
  auto storage = vexa::DataStorage::New();
  const int count = static_cast<int>(state.range(0));
  for (int i = 0; i < count; ++i)
  {
    auto node = vexa::DataNode::New();
    node->SetName("node " + std::to_string(i));
    storage->AddNode(node);
  }
  const std::string last = "node " + std::to_string(count - 1);
  for (auto _ : state)
    benchmark::DoNotOptimize(storage->GetNamedNode(last));
}
BENCHMARK(DataStorageLookUp)->Arg(10000)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
