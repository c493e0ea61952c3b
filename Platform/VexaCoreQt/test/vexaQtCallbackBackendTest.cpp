#include <vexaQtCallbackBackend.h>

#include <vexaFunctionCommand.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

namespace
{
  vexa::FunctionCommand::Pointer MakeCommand(std::function<void()> f)
  {
    return vexa::FunctionCommand::New([f = std::move(f)](itk::Object *, const itk::EventObject &) { f(); });
  }
}

TEST(QtCallbackBackend, CommandsPostedFromWorkersRunOnTheGuiThreadInOrder)
{
  int argc = 1;
  char name[] = "test";
  char *argv[] = {name};
  QCoreApplication app(argc, argv);
  vexa::QtCallbackBackend backend;

  const auto gui = std::this_thread::get_id();
  std::vector<int> order;
  std::atomic<int> offThread{0};
  std::thread worker([&] {
    for (int i = 0; i < 50; ++i)
    {
      vexa::CallbackFromGUIThread::GetInstance()->CallThisFromGUIThread(MakeCommand([&, i] {
        if (std::this_thread::get_id() != gui)
          ++offThread;
        order.push_back(i);
      }));
    }
  });
  worker.join();

  QElapsedTimer timer;
  timer.start();
  while (order.size() < 50 && timer.elapsed() < 10000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);

  ASSERT_EQ(50u, order.size());
  EXPECT_EQ(0, offThread.load());
  for (int i = 0; i < 50; ++i)
    EXPECT_EQ(i, order[i]);
}
