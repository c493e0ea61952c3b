// What firing an event costs through the thread-safe observer list, next to
// ITK's own (unguarded) list of an itk::Object, with 1 and 8 observers.

#include <vexaObserverList.h>

#include <vexaFunctionCommand.h>

#include <benchmark/benchmark.h>

#include <atomic>

namespace
{
  std::atomic<long> g_Calls{0};

  vexa::FunctionCommand::Pointer Counter()
  {
    return vexa::FunctionCommand::New([](itk::Object *, const itk::EventObject &) { ++g_Calls; });
  }

  void ObserverListInvoke(benchmark::State &state)
  {
    vexa::ObserverList list;
    for (int i = 0; i < state.range(0); ++i)
      list.AddObserver(itk::ModifiedEvent(), Counter().GetPointer());
    for (auto _ : state)
      list.InvokeEvent(itk::ModifiedEvent());
    state.SetItemsProcessed(state.iterations());
  }
  BENCHMARK(ObserverListInvoke)->Arg(1)->Arg(8);

  void ItkObjectInvoke(benchmark::State &state)
  {
    itk::Object::Pointer object = itk::Object::New();
    for (int i = 0; i < state.range(0); ++i)
      object->AddObserver(itk::ModifiedEvent(), Counter().GetPointer());
    for (auto _ : state)
      object->InvokeEvent(itk::ModifiedEvent());
    state.SetItemsProcessed(state.iterations());
  }
  BENCHMARK(ItkObjectInvoke)->Arg(1)->Arg(8);

  // Firing from 4 threads at once on one list.
  void ObserverListInvokeContended(benchmark::State &state)
  {
    static vexa::ObserverList *list = nullptr;
    if (state.thread_index() == 0)
    {
      list = new vexa::ObserverList;
      list->AddObserver(itk::ModifiedEvent(), Counter().GetPointer());
    }
    for (auto _ : state)
      list->InvokeEvent(itk::ModifiedEvent());
    state.SetItemsProcessed(state.iterations());
    if (state.thread_index() == 0)
    {
      delete list;
      list = nullptr;
    }
  }
  BENCHMARK(ObserverListInvokeContended)->Threads(4);
}
