#include "vexaDataStorage.h"

#include "vexaCallbackFromGUIThread.h"
#include "vexaException.h"

#include <vexaFunctionCommand.h>
#include <vexaLog.h>

#include <algorithm>
#include <mutex>
#include <set>

namespace vexa
{
  DataStorage::DataStorage() = default;
  DataStorage::~DataStorage() = default;

  void DataStorage::AddNode(DataNode *node, const DataNode *parent)
  {
    if (!node)
      vexaThrow() << "Cannot add a null node to the data storage.";
    {
      std::unique_lock<std::shared_mutex> lock(m_Mutex);
      const auto same = [node](const Entry &entry) { return entry.node.GetPointer() == node; };
      if (std::any_of(m_Entries.begin(), m_Entries.end(), same))
        vexaThrow() << "Node '" << node->GetName() << "' is already in the data storage.";
      Entry entry;
      entry.node = node;
      if (parent)
      {
        const auto isParent = [parent](const Entry &e) { return e.node.GetPointer() == parent; };
        if (!std::any_of(m_Entries.begin(), m_Entries.end(), isParent))
          vexaThrow() << "The parent of node '" << node->GetName() << "' is not in the data storage.";
        entry.sources.push_back(parent);
      }
      m_Entries.push_back(std::move(entry));
    }
    Modified();
    Post(new AddNodeEvent(node, this));
  }

  void DataStorage::Post(NodeEvent *event) const
  {
    static const FunctionCommand::Pointer deliverer =
      FunctionCommand::New([](itk::Object *, const itk::EventObject &posted) { Deliver(posted); });
    CallbackFromGUIThread::GetInstance()->CallThisFromGUIThread(deliverer, event);
  }

  // GUI thread: the posted event reaches the storage's observers.
  void DataStorage::Deliver(const itk::EventObject &event)
  {
    const auto *nodeEvent = dynamic_cast<const NodeEvent *>(&event);
    if (!nodeEvent || !nodeEvent->GetStorage())
      return;
    const DataStorage *storage = nodeEvent->GetStorage();
    try
    {
      storage->m_Observers.InvokeEvent(event, const_cast<DataStorage *>(storage));
    }
    catch (const std::exception &e)
    {
      VEXA_ERROR << "An observer of the data storage failed: " << e.what();
    }
  }

  unsigned long DataStorage::AddObserver(const itk::EventObject &event, itk::Command *command)
  {
    return m_Observers.AddObserver(event, command);
  }

  unsigned long DataStorage::AddObserver(const itk::EventObject &event, ObserverList::Function function)
  {
    return m_Observers.AddObserver(event, std::move(function));
  }

  bool DataStorage::RemoveObserver(unsigned long tag) { return m_Observers.RemoveObserver(tag); }

  bool DataStorage::HasObserver(const itk::EventObject &event) const { return m_Observers.HasObserver(event); }

  void DataStorage::RemoveNode(const DataNode *node)
  {
    DataNode::Pointer removed; // released after the lock
    {
      std::unique_lock<std::shared_mutex> lock(m_Mutex);
      const auto it = std::find_if(m_Entries.begin(), m_Entries.end(),
                                   [node](const Entry &entry) { return entry.node.GetPointer() == node; });
      if (!node || it == m_Entries.end())
        return;
      removed = it->node;
      m_Entries.erase(it);
      for (Entry &entry : m_Entries)
        entry.sources.erase(std::remove(entry.sources.begin(), entry.sources.end(), node), entry.sources.end());
    }
    Modified();
    Post(new RemoveNodeEvent(removed, this));
  }

  bool DataStorage::Exists(const DataNode *node) const
  {
    std::shared_lock<std::shared_mutex> lock(m_Mutex);
    return node && std::any_of(m_Entries.begin(), m_Entries.end(),
                               [node](const Entry &entry) { return entry.node.GetPointer() == node; });
  }

  std::size_t DataStorage::GetNumberOfNodes() const
  {
    std::shared_lock<std::shared_mutex> lock(m_Mutex);
    return m_Entries.size();
  }

  std::vector<DataStorage::Entry> DataStorage::Snapshot() const
  {
    std::shared_lock<std::shared_mutex> lock(m_Mutex);
    return m_Entries;
  }

  DataStorage::SetOfObjects DataStorage::GetAll() const { return GetSubset(Predicate()); }

  DataStorage::SetOfObjects DataStorage::GetSubset(const Predicate &predicate) const
  {
    SetOfObjects nodes;
    {
      std::shared_lock<std::shared_mutex> lock(m_Mutex);
      nodes.reserve(m_Entries.size());
      for (const Entry &entry : m_Entries)
        nodes.push_back(entry.node);
    }
    if (predicate)
      nodes.erase(std::remove_if(nodes.begin(), nodes.end(),
                                 [&predicate](const DataNode::Pointer &node) { return !predicate(node); }),
                  nodes.end());
    return nodes;
  }

  DataNode::Pointer DataStorage::GetNode(const Predicate &predicate) const
  {
    for (const DataNode::Pointer &node : GetAll())
      if (!predicate || predicate(node))
        return node;
    return nullptr;
  }

  DataNode::Pointer DataStorage::GetNamedNode(const std::string &name) const
  {
    // no caller's code runs here, so the look-up may hold the lock (and spare a copy of the list)
    std::shared_lock<std::shared_mutex> lock(m_Mutex);
    std::string nodeName;
    for (const Entry &entry : m_Entries)
      if (entry.node->GetName(nodeName) && nodeName == name)
        return entry.node;
    return nullptr;
  }

  DataNode::Pointer DataStorage::GetNodeOfData(const BaseData *data) const
  {
    return GetNode([data](const DataNode *node) { return data && node->GetData().GetPointer() == data; });
  }

  DataStorage::SetOfObjects DataStorage::GetSources(const DataNode *node,
                                                    const Predicate &predicate,
                                                    bool onlyDirect) const
  {
    return Walk(Snapshot(), node, true, predicate, onlyDirect);
  }

  DataStorage::SetOfObjects DataStorage::GetDerivations(const DataNode *node,
                                                        const Predicate &predicate,
                                                        bool onlyDirect) const
  {
    return Walk(Snapshot(), node, false, predicate, onlyDirect);
  }

  DataStorage::SetOfObjects DataStorage::Walk(const std::vector<Entry> &entries,
                                              const DataNode *start,
                                              bool towardsSources,
                                              const Predicate &predicate,
                                              bool onlyDirect)
  {
    SetOfObjects found;
    std::set<const DataNode *> seen{start};
    std::vector<const DataNode *> frontier{start};
    while (!frontier.empty())
    {
      std::vector<const DataNode *> next;
      for (const DataNode *current : frontier)
        for (const Entry &entry : entries)
        {
          const DataNode *candidate = nullptr;
          if (towardsSources && entry.node.GetPointer() == current)
          {
            for (const DataNode *source : entry.sources)
              if (seen.insert(source).second)
                next.push_back(source);
            continue;
          }
          if (!towardsSources && std::find(entry.sources.begin(), entry.sources.end(), current) != entry.sources.end())
            candidate = entry.node.GetPointer();
          if (candidate && seen.insert(candidate).second)
            next.push_back(candidate);
        }
      for (const DataNode *node : next)
        for (const Entry &entry : entries)
          if (entry.node.GetPointer() == node && (!predicate || predicate(node)))
            found.push_back(entry.node);
      if (onlyDirect)
        break;
      frontier = std::move(next);
    }
    return found;
  }
}
