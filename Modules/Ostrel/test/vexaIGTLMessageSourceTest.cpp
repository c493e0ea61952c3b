#include "vexaIGTLPipelineTestSupport.h"

#include <vexaIGTLDeviceSource.h>
#include <vexaImageToIGTLMessageFilter.h>

#include <usGetModuleContext.h>
#include <usModuleContext.h>
#include <usServiceEvent.h>

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

using namespace vexa;
using namespace vexa::test;

namespace
{
  /** A source with n outputs named "out0", "out1", ... */
  class NamedOutputsSource : public IGTLMessageSource
  {
  public:
    vexaClassMacro(NamedOutputsSource, IGTLMessageSource);
    vexaNewMacro(NamedOutputsSource);

    void MakeOutputs(unsigned int n)
    {
      this->SetNumberOfIndexedOutputs(n);
      for (unsigned int i = 0; i < n; ++i)
      {
        IGTLMessage::Pointer output = IGTLMessage::New();
        output->SetName("out" + std::to_string(i));
        this->SetNthOutput(i, output);
      }
    }
  };

  std::vector<us::ServiceReferenceU> SourcesOfType(const std::string &type)
  {
    return us::GetModuleContext()->GetServiceReferences(
      IGTLMessageSource::US_INTERFACE_NAME, "(" + IGTLMessageSource::US_PROPKEY_DEVICETYPE + "=" + type + ")");
  }
}

TEST(IGTLMessageSource, KeysAndDefaults)
{
  EXPECT_EQ("org.vexa.services.IGTLMessageSource", IGTLMessageSource::US_INTERFACE_NAME);
  EXPECT_EQ("org.vexa.services.IGTLMessageSource.devicename", IGTLMessageSource::US_PROPKEY_DEVICENAME);
  EXPECT_EQ("org.vexa.services.IGTLMessageSource.devicetype", IGTLMessageSource::US_PROPKEY_DEVICETYPE);
  EXPECT_EQ("org.vexa.services.IGTLMessageSource.id", IGTLMessageSource::US_PROPKEY_ID);
  EXPECT_EQ("org.vexa.services.IGTLMessageSource.isActive", IGTLMessageSource::US_PROPKEY_ISACTIVE);
  EXPECT_EQ("org.vexa.services.IGTLMessageSource.igtldevicename", IGTLDeviceSource::US_PROPKEY_IGTLDEVICENAME);
  EXPECT_EQ("org.vexa.services.IGTLMessageSource", us_service_interface_iid<IGTLMessageSource>());

  NamedOutputsSource::Pointer source = NamedOutputsSource::New();
  EXPECT_EQ("IGTLMessageSource (no defined type)", source->GetName());
  EXPECT_EQ("NONE", source->GetType());
  EXPECT_EQ(0u, source->GetFPS());
  source->SetFPS(25);
  EXPECT_EQ(25u, source->GetFPS());

  const itk::ModifiedTimeType before = source->GetMTime();
  source->SetName("IGTLMessageSource (no defined type)");
  source->SetType("NONE");
  EXPECT_EQ(before, source->GetMTime());
  source->SetName("other");
  EXPECT_GT(source->GetMTime(), before);

  vexa::PropertyList::ConstPointer a = source->GetParameters();
  vexa::PropertyList::ConstPointer b = source->GetParameters();
  ASSERT_TRUE(a.IsNotNull());
  EXPECT_NE(a.GetPointer(), b.GetPointer());
}

TEST(IGTLMessageSource, OutputsByIndexAndByNameAlsoBeyondTenOutputs)
{
  NamedOutputsSource::Pointer source = NamedOutputsSource::New();
  {
    vorlen::CapturingSink sink;
    EXPECT_EQ(nullptr, source->GetOutput());
    EXPECT_TRUE(sink.Contains("IGTLMessageSource contained no outputs. Returning nullptr.", 1));
  }
  source->MakeOutputs(12);
  // ITK keeps outputs in the order of their names ("_10" before "_2"): the
  // index is the real one anyway.
  for (unsigned int i = 0; i < 12; ++i)
  {
    EXPECT_EQ(i, source->GetOutputIndex("out" + std::to_string(i)));
    EXPECT_EQ(source->GetOutput(i), source->GetOutput("out" + std::to_string(i)));
  }
  EXPECT_EQ(nullptr, source->GetOutput(12));
  EXPECT_EQ(nullptr, source->GetOutput(1000));
  EXPECT_EQ(nullptr, source->GetOutput("missing"));
  EXPECT_EQ(nullptr, source->GetOutput("out"));
  EXPECT_EQ("output name does not exist", ExceptionText([&] { source->GetOutputIndex("missing"); }));
  EXPECT_THROW(source->GetOutputIndex("missing"), std::invalid_argument);
}

TEST(IGTLMessageSource, Grafting)
{
  NamedOutputsSource::Pointer empty = NamedOutputsSource::New();
  IGTLMessage::Pointer graft = IGTLMessage::New(MakeString("hello", "Graft"));
  const std::string none = ExceptionText([&] { empty->GraftOutput(graft); });
  EXPECT_NE(std::string::npos, none.find("itk::ERROR: NamedOutputsSource("));
  EXPECT_NE(std::string::npos, none.find("): Requested to graft output 0 but this filteronly has 0 Outputs."));

  NamedOutputsSource::Pointer source = NamedOutputsSource::New();
  source->MakeOutputs(1);
  EXPECT_NE(std::string::npos, ExceptionText([&] {
                                 source->GraftNthOutput(0, nullptr);
                               }).find("Requested to graft output with a nullptr pointer object"));
  source->GraftOutput(graft);
  EXPECT_EQ(graft->GetMessage().GetPointer(), source->GetOutput()->GetMessage().GetPointer());
  EXPECT_STREQ("Graft", source->GetOutput()->GetName());
  EXPECT_TRUE(source->GetOutput()->IsDataValid());
}

TEST(IGTLMessageSource, RegistrationsAndTheirIdentifiers)
{
  ImageToIGTLMessageFilter::Pointer source = ImageToIGTLMessageFilter::New();
  source->SetName("Ultrasound");
  source->SetType("REGTEST");
  source->UnRegisterMicroservice(); // never registered: nothing
  EXPECT_TRUE(SourcesOfType("REGTEST").empty());

  source->RegisterAsMicroservice();
  const std::string first = source->GetMicroserviceID();
  source->SetName("Renamed"); // a snapshot: the registration keeps the old name
  source->RegisterAsMicroservice();
  const std::string second = source->GetMicroserviceID();
  const std::string prefix = "org.vexa.services.IGTLMessageSource.id_";
  for (const std::string &id : {first, second})
  {
    EXPECT_EQ(0u, id.rfind(prefix, 0)) << id;
    EXPECT_EQ(prefix.size() + 16, id.size()) << id;
  }
  EXPECT_NE(first, second);

  std::vector<us::ServiceReferenceU> refs = SourcesOfType("REGTEST");
  ASSERT_EQ(2u, refs.size());
  EXPECT_EQ("Ultrasound", refs[0].GetProperty(IGTLMessageSource::US_PROPKEY_DEVICENAME).ToString());
  EXPECT_EQ("Renamed", refs[1].GetProperty(IGTLMessageSource::US_PROPKEY_DEVICENAME).ToString());

  source->UnRegisterMicroservice(); // only the second
  refs = SourcesOfType("REGTEST");
  ASSERT_EQ(1u, refs.size());
  EXPECT_EQ(first, refs[0].GetProperty(IGTLMessageSource::US_PROPKEY_ID).ToString());
  EXPECT_THROW(source->GetMicroserviceID(), std::logic_error);

  // The last reference takes every remaining registration with it.
  source->RegisterAsMicroservice();
  EXPECT_EQ(2u, SourcesOfType("REGTEST").size());
  source = nullptr;
  EXPECT_TRUE(SourcesOfType("REGTEST").empty());
}

TEST(IGTLMessageSource, ListenersOfAWithdrawnSourceSeeItWhole)
{
  // The registry tells its listeners while the service can still be got: the
  // source must still be a whole message source then.
  std::string seenName;
  us::ListenerToken token = us::GetModuleContext()->AddServiceListener(
    [&](const us::ServiceEvent &event) {
      if (event.GetType() != us::ServiceEvent::UNREGISTERING)
        return;
      auto *source =
        us::GetModuleContext()->GetService(us::ServiceReference<IGTLMessageSource>(event.GetServiceReference()));
      if (source != nullptr)
        seenName = source->GetName() + "/" + source->GetNameOfClass();
    },
    "(" + IGTLMessageSource::US_PROPKEY_DEVICETYPE + "=WHOLE)");
  {
    ImageToIGTLMessageFilter::Pointer source = ImageToIGTLMessageFilter::New();
    source->SetName("Whole");
    source->SetType("WHOLE");
    source->RegisterAsMicroservice();
  }
  us::GetModuleContext()->RemoveServiceListener(token);
  EXPECT_EQ("Whole/ImageToIGTLMessageFilter", seenName);
}

TEST(IGTLMessageSource, LookUpsRaceWithDestructionSafely)
{
  // One thread makes, registers and drops sources while another looks them
  // up and uses them: a look-up either holds a live source or gets null.
  std::atomic<bool> stop{false};
  std::atomic<int> found{0};
  std::thread lookUp([&] {
    while (!stop)
    {
      for (const us::ServiceReferenceU &ref : SourcesOfType("RACE"))
      {
        IGTLMessageSource::Pointer source = IGTLMessageSource::AcquireRegisteredSource(ref);
        if (source.IsNotNull() && source->GetType() == "RACE")
          ++found;
      }
    }
  });
  for (int i = 0; i < 2000; ++i)
  {
    ImageToIGTLMessageFilter::Pointer source = ImageToIGTLMessageFilter::New();
    source->SetType("RACE");
    source->RegisterAsMicroservice();
    if (i % 100 == 0)
      WaitUntil([&] { return found.load() > i / 100; }, std::chrono::seconds(2));
  }
  stop = true;
  lookUp.join();
  EXPECT_GT(found.load(), 0);
  EXPECT_TRUE(SourcesOfType("RACE").empty());
}
