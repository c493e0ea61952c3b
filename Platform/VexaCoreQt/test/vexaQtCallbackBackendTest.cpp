#include <vexaQtCallbackBackend.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

namespace
{
  class FunctionCommand : public itk::Command
  {
  public:
    typedef FunctionCommand Self;
    typedef itk::SmartPointer<Self> Pointer;
    itkNewMacro(Self);
    std::function<void()> function;
    void Execute(itk::Object *, const itk::EventObject &) override { function(); }
    void Execute(const itk::Object *, const itk::EventObject &) override { function(); }
  };
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
      auto c = FunctionCommand::New();
      c->function = [&, i] {
        if (std::this_thread::get_id() != gui)
          ++offThread;
        order.push_back(i);
      };
      vexa::CallbackFromGUIThread::GetInstance()->CallThisFromGUIThread(c);
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
