#include "vexaObserverList.h"

#include <vexaFunctionCommand.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace vexa
{
  struct ObserverList::Private
  {
    struct Entry
    {
      unsigned long tag = 0;
      std::unique_ptr<itk::EventObject> event;
      itk::Command::Pointer command;
      bool removed = false;
      std::vector<std::thread::id> executing; // threads inside this command right now
    };

    explicit Private(unsigned long firstTag) : nextTag(firstTag) {}

    mutable std::mutex mutex;
    std::condition_variable idle;
    std::vector<std::shared_ptr<Entry>> entries;
    unsigned long nextTag;

    /** Waits, with `lock` held, until no thread but this one executes the entry. */
    void WaitUntilIdle(std::unique_lock<std::mutex> &lock, const std::shared_ptr<Entry> &entry)
    {
      const std::thread::id self = std::this_thread::get_id();
      idle.wait(lock, [&] {
        return std::all_of(entry->executing.begin(), entry->executing.end(),
                           [&](const std::thread::id &id) { return id == self; });
      });
    }

    template <class Caller>
    void Invoke(Caller *caller, const itk::EventObject &event)
    {
      std::vector<std::shared_ptr<Entry>> targets;
      {
        std::lock_guard<std::mutex> lock(mutex);
        for (const auto &entry : entries)
          if (entry->event->CheckEvent(&event))
            targets.push_back(entry);
      }
      const std::thread::id self = std::this_thread::get_id();
      for (const auto &entry : targets)
      {
        {
          std::lock_guard<std::mutex> lock(mutex);
          if (entry->removed)
            continue;
          entry->executing.push_back(self);
        }
        struct Leave
        {
          Private &list;
          Entry &entry;
          std::thread::id self;
          ~Leave()
          {
            {
              std::lock_guard<std::mutex> lock(list.mutex);
              entry.executing.erase(std::find(entry.executing.begin(), entry.executing.end(), self));
            }
            list.idle.notify_all();
          }
        } leave{*this, *entry, self};
        entry->command->Execute(caller, event);
      }
    }
  };

  ObserverList::ObserverList(unsigned long firstTag) : d(new Private(firstTag)) {}

  ObserverList::~ObserverList() = default;

  unsigned long ObserverList::AddObserver(const itk::EventObject &event, itk::Command *command)
  {
    auto entry = std::make_shared<Private::Entry>();
    entry->event.reset(event.MakeObject());
    entry->command = command;
    std::lock_guard<std::mutex> lock(d->mutex);
    entry->tag = d->nextTag++;
    d->entries.push_back(entry);
    return entry->tag;
  }

  unsigned long ObserverList::AddObserver(const itk::EventObject &event, Function function)
  {
    return AddObserver(event,
                       FunctionCommand::New([function = std::move(function)](itk::Object *, const itk::EventObject &e) {
                         if (function)
                           function(e);
                       }).GetPointer());
  }

  bool ObserverList::RemoveObserver(unsigned long tag)
  {
    std::unique_lock<std::mutex> lock(d->mutex);
    const auto it = std::find_if(d->entries.begin(), d->entries.end(),
                                 [&](const std::shared_ptr<Private::Entry> &e) { return e->tag == tag; });
    if (it == d->entries.end())
      return false;
    std::shared_ptr<Private::Entry> entry = *it;
    entry->removed = true;
    d->entries.erase(it);
    d->WaitUntilIdle(lock, entry);
    return true;
  }

  void ObserverList::RemoveAllObservers()
  {
    std::unique_lock<std::mutex> lock(d->mutex);
    std::vector<std::shared_ptr<Private::Entry>> removed;
    removed.swap(d->entries);
    for (const auto &entry : removed)
      entry->removed = true;
    for (const auto &entry : removed)
      d->WaitUntilIdle(lock, entry);
  }

  bool ObserverList::HasObserver(const itk::EventObject &event) const
  {
    std::lock_guard<std::mutex> lock(d->mutex);
    return std::any_of(d->entries.begin(), d->entries.end(),
                       [&](const std::shared_ptr<Private::Entry> &e) { return e->event->CheckEvent(&event); });
  }

  void ObserverList::InvokeEvent(const itk::EventObject &event, itk::Object *caller) const { d->Invoke(caller, event); }

  void ObserverList::InvokeEvent(const itk::EventObject &event, const itk::Object *caller) const
  {
    d->Invoke(caller, event);
  }
}
