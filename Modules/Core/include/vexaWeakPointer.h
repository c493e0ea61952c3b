#ifndef vexaWeakPointer_h
#define vexaWeakPointer_h

#include "vexaFunctionCommand.h"

#include <itkCommand.h>
#include <itkEventObject.h>
#include <itkObject.h>
#include <itkSmartPointer.h>

#include <functional>
#include <memory>
#include <mutex>
#include <type_traits>

namespace vexa
{
  /**
   * Watches a reference-counted object without owning it, and forgets it
   * when the object is deleted (any T that fires itk::DeleteEvent, as every
   * itk::Object does while its last reference is released).
   *
   *   vexa::WeakPointer<vexa::Image> m_Image;
   *   m_Image = image;
   *   if (vexa::Image::Pointer image = m_Image.Lock()) ...
   *
   * Lock() may run on one thread while another releases the object's last
   * reference: it then yields either a counted reference to the still intact
   * object or null, never a dying object (for toolkit data, whose counting
   * offers TryRegister; see Lock() for plain ITK objects). Assignment and destruction belong
   * to the owner's thread and must not race with the final release (ITK's
   * observer lists are not thread-safe). Neither copyable nor movable: the
   * observer on the watched object belongs to this one weak pointer.
   */
  template <class T>
  class WeakPointer
  {
  public:
    using DeleteCallback = std::function<void()>;

    WeakPointer() : m_State(std::make_shared<State>()) {}
    WeakPointer(const WeakPointer &) = delete;
    WeakPointer &operator=(const WeakPointer &) = delete;
    WeakPointer(WeakPointer &&) = delete;
    WeakPointer &operator=(WeakPointer &&) = delete;

    ~WeakPointer()
    {
      try
      {
        StopWatching();
      }
      catch (...)
      {
      }
    }

    /** Watches another object (null: none); the observer moves from the old object to the new one. */
    WeakPointer &operator=(T *object)
    {
      {
        std::lock_guard<std::mutex> lock(m_State->mutex);
        if (m_State->object == object)
          return *this;
      }
      StopWatching();
      if (object)
      {
        m_ObserverTag = object->AddObserver(itk::DeleteEvent(), MakeDeleteObserver(m_State).GetPointer());
        std::lock_guard<std::mutex> lock(m_State->mutex);
        m_State->object = object;
      }
      return *this;
    }

    /** A counted reference that keeps the object alive while held, or null when nothing is watched. */
    itk::SmartPointer<T> Lock() const
    {
      std::lock_guard<std::mutex> lock(m_State->mutex);
      T *object = m_State->object;
      if constexpr (HasTryRegister<T>::value)
      {
        // never a new reference to an object whose last reference is being released
        if (!object || !object->TryRegister())
          return nullptr;
        itk::SmartPointer<T> locked(object);
        object->UnRegister();
        return locked;
      }
      else
      {
        // plain ITK objects: ITK 4.13 announces a deletion from a count that a concurrent release
        // can overtake, so for them Lock() is only safe on the thread that releases the object
        return itk::SmartPointer<T>(object);
      }
    }

    /** Called (without arguments) after the watched object has been forgotten because it is deleted. */
    void SetDeleteCallback(const DeleteCallback &callback)
    {
      std::lock_guard<std::mutex> lock(m_State->mutex);
      m_State->callback = callback;
    }

  private:
    template <class U, class = void>
    struct HasTryRegister : std::false_type
    {
    };
    template <class U>
    struct HasTryRegister<U, std::void_t<decltype(std::declval<const U &>().TryRegister())>> : std::true_type
    {
    };

    // Shared with the observer, so a deletion that runs late never touches a weak pointer that is gone.
    struct State
    {
      std::mutex mutex;
      T *object = nullptr;
      DeleteCallback callback;
    };

    // Forgets the object when it announces its deletion; the command shares the
    // state, not the weak pointer.
    static FunctionCommand::Pointer MakeDeleteObserver(std::shared_ptr<State> state)
    {
      return FunctionCommand::New([state](itk::Object *caller, const itk::EventObject &event) {
        if (!itk::DeleteEvent().CheckEvent(&event))
          return;
        DeleteCallback callback;
        {
          std::lock_guard<std::mutex> lock(state->mutex);
          // only the object this observer was put on is forgotten
          if (static_cast<const itk::Object *>(state->object) != caller)
            return;
          state->object = nullptr;
          callback = state->callback;
        }
        if (callback)
          callback();
      });
    }

    void StopWatching()
    {
      itk::SmartPointer<T> watched = Lock();
      if (!watched)
        return;
      {
        std::lock_guard<std::mutex> lock(m_State->mutex);
        m_State->object = nullptr;
      }
      watched->RemoveObserver(m_ObserverTag);
    }

    std::shared_ptr<State> m_State;
    unsigned long m_ObserverTag = 0;
  };
}

#endif
