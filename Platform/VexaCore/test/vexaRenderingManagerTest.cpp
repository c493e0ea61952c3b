#include <vexaCallbackFromGUIThread.h>
#include <vexaRenderingManager.h>
#include <vexaSlicedGeometry3D.h>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace
{
  struct CountingWindow : vexa::RenderingManager::RenderWindow
  {
    explicit CountingWindow(bool is3D = false) : is3D(is3D) {}
    bool Is3D() const override { return is3D; }
    void Repaint() override
    {
      ++repaints;
      thread = std::this_thread::get_id();
    }
    void FitToGeometry(const vexa::BaseGeometry *geometry) override
    {
      ++fits;
      fittedExtent = geometry ? geometry->GetExtent(0) : -1;
    }
    bool is3D;
    int repaints = 0;
    int fits = 0;
    double fittedExtent = 0;
    std::thread::id thread;
  };

  // registers windows for one test and drains what is left afterwards
  struct Windows
  {
    std::vector<CountingWindow *> added;
    void Add(CountingWindow &w)
    {
      vexa::RenderingManager::GetInstance()->AddRenderWindow(&w);
      added.push_back(&w);
    }
    ~Windows()
    {
      for (auto *w : added)
        vexa::RenderingManager::GetInstance()->RemoveRenderWindow(w);
      vexa::CallbackFromGUIThread::GetInstance()->ProcessPendingCalls();
    }
  };

  void RunGuiTurn() { vexa::CallbackFromGUIThread::GetInstance()->ProcessPendingCalls(); }
}

TEST(RenderingManager, RequestsFromManyThreadsCoalesceIntoOneRepaintPerTurn)
{
  auto *manager = vexa::RenderingManager::GetInstance();
  CountingWindow window;
  Windows windows;
  windows.Add(window);
  RunGuiTurn();
  ASSERT_EQ(1, window.repaints); // a new window is drawn once

  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([manager, &window] {
      for (int i = 0; i < 100; ++i)
      {
        manager->RequestUpdateAll();
        manager->RequestUpdate(&window);
      }
    });
  for (auto &thread : threads)
    thread.join();
  EXPECT_EQ(1, window.repaints); // nothing on the requesting threads
  EXPECT_EQ(1u, vexa::CallbackFromGUIThread::GetInstance()->GetNumberOfPendingCalls());
  RunGuiTurn();
  EXPECT_EQ(2, window.repaints);
  EXPECT_EQ(std::this_thread::get_id(), window.thread);
  RunGuiTurn();
  EXPECT_EQ(2, window.repaints); // nothing pending, nothing drawn
}

TEST(RenderingManager, RequestTypesSelectTheWindows)
{
  auto *manager = vexa::RenderingManager::GetInstance();
  CountingWindow flat, deep(true);
  Windows windows;
  windows.Add(flat);
  windows.Add(deep);
  RunGuiTurn();
  struct Case
  {
    vexa::RenderingManager::RequestType type;
    int flat, deep;
  };
  for (const Case &c : {Case{vexa::RenderingManager::REQUEST_UPDATE_ALL, 1, 1},
                        Case{vexa::RenderingManager::REQUEST_UPDATE_2DWINDOWS, 1, 0},
                        Case{vexa::RenderingManager::REQUEST_UPDATE_3DWINDOWS, 0, 1}})
  {
    const int flatBefore = flat.repaints, deepBefore = deep.repaints;
    manager->RequestUpdateAll(c.type);
    RunGuiTurn();
    EXPECT_EQ(c.flat, flat.repaints - flatBefore) << c.type;
    EXPECT_EQ(c.deep, deep.repaints - deepBefore) << c.type;
  }
}

TEST(RenderingManager, FitUsesTheLastGeometryAndRemovedWindowsAreNotCalled)
{
  auto *manager = vexa::RenderingManager::GetInstance();
  CountingWindow window, removed;
  Windows windows;
  windows.Add(window);
  windows.Add(removed);
  RunGuiTurn();

  auto first = vexa::SlicedGeometry3D::New();
  first->SetBounds({0, 10, 0, 10, 0, 1});
  auto second = vexa::SlicedGeometry3D::New();
  second->SetBounds({0, 64, 0, 32, 0, 1});
  EXPECT_TRUE(manager->FitViewsToGeometry(first.GetPointer()));
  EXPECT_TRUE(manager->FitViewsToGeometry(second.GetPointer()));
  second->SetBounds({0, 1, 0, 1, 0, 1}); // later changes of the caller's geometry do not count
  EXPECT_FALSE(manager->FitViewsToGeometry(static_cast<const vexa::BaseGeometry *>(nullptr)));
  manager->RemoveRenderWindow(&removed);
  const int removedBefore = removed.repaints;
  RunGuiTurn();
  EXPECT_EQ(1, window.fits);
  EXPECT_DOUBLE_EQ(64, window.fittedExtent);
  EXPECT_EQ(removedBefore, removed.repaints);
  EXPECT_EQ(0, removed.fits);
}
