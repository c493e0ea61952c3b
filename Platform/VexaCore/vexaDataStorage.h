#ifndef vexaDataStorage_h
#define vexaDataStorage_h

#include "VexaCoreExports.h"

#include "vexaDataNode.h"
#include "vexaObserverList.h"

#include <vexaCommon.h>

#include <itkObject.h>

#include <functional>
#include <shared_mutex>
#include <string>
#include <vector>

namespace vexa
{
  /**
   * The nodes the workbench shows, in the order they were added, each with
   * the nodes it was derived from (its sources).
   *
   * Thread-safe: any thread may add, remove and look up. Look-ups return
   * copies; predicates run without the storage's lock held, so they may call
   * back into the storage.
   *
   * Every addition and removal fires an AddNodeEvent or RemoveNodeEvent, on
   * the GUI thread (through vexa::CallbackFromGUIThread), later than the
   * change itself and in the order of the changes; the event keeps its node
   * and the storage alive until it was delivered. Observers may be added and
   * removed on any thread (the storage's own observer list; ITK's observer
   * methods of the base are hidden).
   */
  class VEXACORE_EXPORT DataStorage : public itk::Object
  {
  public:
    vexaClassMacroItkParent(DataStorage, itk::Object);
    vexaNewMacro(DataStorage);

    /** The node an event is about. */
    class NodeEvent : public itk::AnyEvent
    {
    public:
      NodeEvent() = default;
      NodeEvent(const DataNode *node, const DataStorage *storage) : m_Node(node), m_Storage(storage) {}
      NodeEvent(const NodeEvent &other) = default;
      const char *GetEventName() const override { return "NodeEvent"; }
      bool CheckEvent(const itk::EventObject *e) const override { return dynamic_cast<const NodeEvent *>(e); }
      // a copy, node and storage included: an event handed on to another thread still names its node
      itk::EventObject *MakeObject() const override { return new NodeEvent(*this); }
      const DataNode *GetNode() const { return m_Node; }
      const DataStorage *GetStorage() const { return m_Storage; }

    private:
      DataNode::ConstPointer m_Node;
      itk::SmartPointer<const DataStorage> m_Storage;
    };

#define VEXA_DATA_STORAGE_EVENT(name)                                                                                  \
  class name : public NodeEvent                                                                                        \
  {                                                                                                                    \
  public:                                                                                                              \
    name() = default;                                                                                                  \
    name(const DataNode *node, const DataStorage *storage) : NodeEvent(node, storage) {}                               \
    name(const name &other) = default;                                                                                 \
    const char *GetEventName() const override { return #name; }                                                        \
    bool CheckEvent(const itk::EventObject *e) const override { return dynamic_cast<const name *>(e); }                \
    itk::EventObject *MakeObject() const override { return new name(*this); }                                          \
  }
    VEXA_DATA_STORAGE_EVENT(AddNodeEvent);
    VEXA_DATA_STORAGE_EVENT(RemoveNodeEvent);
#undef VEXA_DATA_STORAGE_EVENT

    using SetOfObjects = std::vector<DataNode::Pointer>;

    /** Observes AddNodeEvent / RemoveNodeEvent (or NodeEvent for both); returns the tag. */
    unsigned long AddObserver(const itk::EventObject &event, itk::Command *command);
    unsigned long AddObserver(const itk::EventObject &event, ObserverList::Function function);
    /** Once it returns the observer is not called again (see vexa::ObserverList). */
    bool RemoveObserver(unsigned long tag);
    bool HasObserver(const itk::EventObject &event) const;

    using Predicate = std::function<bool(const DataNode *)>;

    /**
     * Adds `node`, derived from `parent` when one is given. vexa::Exception
     * for a null node, a node that is already in the storage, or a parent
     * that is not.
     */
    void AddNode(DataNode *node, const DataNode *parent = nullptr);

    /** Removes the node (nothing when it is not in the storage); its derivations lose it as a source. */
    void RemoveNode(const DataNode *node);

    bool Exists(const DataNode *node) const;
    std::size_t GetNumberOfNodes() const;

    /** Every node, in the order they were added. */
    SetOfObjects GetAll() const;
    /** The nodes `predicate` accepts (all without one), in the order they were added. */
    SetOfObjects GetSubset(const Predicate &predicate) const;
    /** The first node (in adding order) that `predicate` accepts, or null. */
    DataNode::Pointer GetNode(const Predicate &predicate) const;
    /** The first node named `name`, or null. */
    DataNode::Pointer GetNamedNode(const std::string &name) const;
    /** The first node whose datum is `data`, or null. */
    DataNode::Pointer GetNodeOfData(const BaseData *data) const;

    /** The nodes `node` was derived from; with direct false also their sources, and so on. */
    SetOfObjects GetSources(const DataNode *node,
                            const Predicate &predicate = Predicate(),
                            bool onlyDirect = true) const;
    /** The nodes derived from `node`; with direct false also theirs, and so on. */
    SetOfObjects GetDerivations(const DataNode *node,
                                const Predicate &predicate = Predicate(),
                                bool onlyDirect = true) const;

  protected:
    DataStorage();
    ~DataStorage() override;

  private:
    struct Entry
    {
      DataNode::Pointer node;
      std::vector<const DataNode *> sources;
    };

    std::vector<Entry> Snapshot() const;
    void Post(NodeEvent *event) const;
    static void Deliver(const itk::EventObject &event);
    static SetOfObjects Walk(const std::vector<Entry> &entries,
                             const DataNode *start,
                             bool towardsSources,
                             const Predicate &predicate,
                             bool onlyDirect);

    mutable std::shared_mutex m_Mutex;
    std::vector<Entry> m_Entries;
    ObserverList m_Observers;
  };
}

#endif
