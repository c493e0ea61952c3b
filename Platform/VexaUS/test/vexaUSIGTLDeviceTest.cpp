// The OpenIGTLink device as client of a test server and as server of a test
// client, over loopback TCP: pictures keep their geometry, a lost server is
// published, and image messages whose sizes exceed their body are refused
// before anything is copied.

#include <vexaUSIGTLDevice.h>

#include <vexaIGTLClient.h>
#include <vexaIGTLServer.h>
#include <vexaIGTLSocket.h>
#include <vexaImageReadAccessor.h>
#include <vexaImageWriteAccessor.h>
#include <vexaImageToIGTLMessageFilter.h>
#include <vexaPixelTypeTraits.h>
#include <vexaIGTLTestSupport.h>
#include <vexaTestWaitUntil.h>
#include <vorlenLogSink.h>

#include <usGetModuleContext.h>
#include <usModuleContext.h>

#include <itkRGBPixel.h>

#include <igtl_header.h>
#include <igtl_image.h>
#include <igtl_util.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>

using vexa::USDevice;
using vexa::USIGTLDevice;

namespace
{
  using vexa::test::WaitUntil;

  /** A toolkit image of 16-bit pixels 0, 1, 2, ... with the given geometry. */
  vexa::Image::Pointer MakeImage(unsigned int width, unsigned int height, double sx, double sy, double ox, double oy)
  {
    vexa::Image::Pointer image = vexa::Image::New();
    const unsigned int size[2] = {width, height};
    image->Initialize(vexa::CreateScalarPixelType<unsigned short>(), 2, size);
    {
      vexa::ImageWriteAccessor access(image);
      auto *pixels = static_cast<unsigned short *>(access.GetData());
      for (unsigned int i = 0; i < width * height; ++i)
        pixels[i] = static_cast<unsigned short>(i * 3);
    }
    vexa::Vector3D spacing;
    spacing[0] = sx, spacing[1] = sy, spacing[2] = 1.0;
    image->SetSpacing(spacing);
    vexa::Point3D origin;
    origin[0] = ox, origin[1] = oy, origin[2] = 0.0;
    image->SetOrigin(origin);
    return image;
  }

  /** The image as the message a real sender would send. */
  vexa::IGTLMessage::Pointer AsMessage(vexa::Image *image)
  {
    vexa::ImageToIGTLMessageFilter::Pointer filter = vexa::ImageToIGTLMessageFilter::New();
    filter->SetInput(image);
    filter->Update();
    vexa::IGTLMessage::Pointer message = filter->GetOutput();
    return message;
  }

  /** Sends the message every few milliseconds until `arrived` holds (or 10 s passed). */
  bool SendUntil(vexa::IGTLDevice *sender,
                 vexa::IGTLMessage *message,
                 USDevice *receiver,
                 const std::function<bool(vexa::Image *)> &arrived)
  {
    return WaitUntil([&] {
      sender->SendMessage(message);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      receiver->Modified();
      receiver->Update();
      return !receiver->GetOutput()->IsEmpty() && arrived(receiver->GetOutput());
    });
  }

  void ExpectSameImage(vexa::Image *expected, vexa::Image *actual)
  {
    ASSERT_EQ(expected->GetDimension(0), actual->GetDimension(0));
    ASSERT_EQ(expected->GetDimension(1), actual->GetDimension(1));
    EXPECT_EQ(expected->GetPixelType(), actual->GetPixelType());
    for (int i = 0; i < 3; ++i)
    {
      EXPECT_NEAR(expected->GetGeometry()->GetSpacing()[i], actual->GetGeometry()->GetSpacing()[i], 1e-6) << i;
      EXPECT_NEAR(expected->GetGeometry()->GetOrigin()[i], actual->GetGeometry()->GetOrigin()[i], 1e-4) << i;
    }
    vexa::ImageReadAccessor a(expected), b(actual);
    ASSERT_EQ(a.GetSize(), b.GetSize());
    EXPECT_EQ(0, std::memcmp(a.GetConstData(), b.GetConstData(), a.GetSize()));
  }

  bool Origin0Is(vexa::Image *image, double x) { return std::abs(image->GetGeometry()->GetOrigin()[0] - x) < 1e-4; }

  std::string IsActiveText(USDevice *device)
  {
    return device->GetServiceProperties().at(USDevice::GetPropertyKeys().US_PROPKEY_ISACTIVE).ToString();
  }
}

TEST(USIGTLDevice, ClientReceivesPicturesWithTheirGeometryAndPublishesALostServer)
{
  vexa::IGTLServer::Pointer server = vexa::IGTLServer::New(true);
  server->SetPortNumber(0);
  ASSERT_TRUE(server->OpenConnection());
  ASSERT_TRUE(server->StartCommunication());

  USIGTLDevice::Pointer device = USIGTLDevice::New("Acme", "Streamer", "127.0.0.1", server->GetPortNumber(), false);
  EXPECT_EQ("org.vexa.modules.us.USIGTLDevice", device->GetDeviceClass());
  EXPECT_FALSE(device->GetIsServer());
  ASSERT_TRUE(device->Initialize());
  ASSERT_TRUE(device->Connect());
  ASSERT_TRUE(device->Activate());
  ASSERT_TRUE(WaitUntil([&] { return server->GetNumberOfConnections() == 1; }));
  EXPECT_TRUE(device->GetOutput()->IsEmpty()) << "empty until a picture arrived";

  vexa::Image::Pointer first = MakeImage(40, 30, 0.5, 0.25, 10.0, -3.0);
  ASSERT_TRUE(SendUntil(server, AsMessage(first), device, [](vexa::Image *) { return true; }));
  ExpectSameImage(first, device->GetOutput());

  // every picture brings its own geometry
  vexa::Image::Pointer second = MakeImage(20, 10, 0.125, 2.0, -7.5, 4.0);
  ASSERT_TRUE(SendUntil(server, AsMessage(second), device, [](vexa::Image *i) { return Origin0Is(i, -7.5); }));
  ExpectSameImage(second, device->GetOutput());

  // the server goes away: the client is no longer active nor connected, and tells the registry's
  // listeners why, with its state
  const auto &keys = USDevice::GetPropertyKeys();
  std::mutex mutex;
  std::vector<std::string> modified;
  const us::ListenerToken token = us::GetModuleContext()->AddServiceListener(
    [&](const us::ServiceEvent &event) {
      if (event.GetType() != us::ServiceEvent::MODIFIED)
        return;
      const us::ServiceReferenceU reference = event.GetServiceReference();
      std::lock_guard<std::mutex> lock(mutex);
      modified.push_back(reference.GetProperty(keys.US_PROPKEY_ISACTIVE).ToString() + " " +
                         reference.GetProperty(keys.US_PROPKEY_STOP_REASON).ToString());
    },
    "(objectclass=org.vexa.services.UltrasoundDevice)");
  const int port = server->GetPortNumber();
  const std::string reason = "the server 127.0.0.1:" + std::to_string(port) + " closed the connection";
  {
    vorlen::CapturingSink log;
    server->CloseConnection();
    // the event comes from Ostrel's receiving thread
    EXPECT_TRUE(WaitUntil([&] {
      std::lock_guard<std::mutex> lock(mutex);
      return !modified.empty();
    }));
    EXPECT_TRUE(log.Contains("The device \"Streamer\" stopped: " + reason, 1));
  }
  EXPECT_EQ(std::vector<std::string>{"false " + reason}, modified);
  EXPECT_FALSE(device->GetIsActive());
  EXPECT_EQ(USDevice::State_Initialized, device->GetDeviceState());
  EXPECT_EQ("false", IsActiveText(device));
  EXPECT_EQ(reason, device->GetStopReason());
  EXPECT_NO_THROW(device->Update());

  // a server on the same port again: the next activation clears the reason, with the state
  server = vexa::IGTLServer::New(true);
  server->SetPortNumber(port);
  ASSERT_TRUE(server->OpenConnection());
  ASSERT_TRUE(server->StartCommunication());
  {
    std::lock_guard<std::mutex> lock(mutex);
    modified.clear();
  }
  ASSERT_TRUE(device->Connect());
  ASSERT_TRUE(device->Activate());
  us::GetModuleContext()->RemoveServiceListener(token);
  EXPECT_EQ((std::vector<std::string>{"false " + reason, "true "}), modified);
  EXPECT_EQ("", device->GetStopReason());
  // and a caller's deactivation has no reason
  device->Deactivate();
  EXPECT_EQ("", device->GetServiceProperties().at(keys.US_PROPKEY_STOP_REASON).ToString());
  device->UnregisterOnService();
}

TEST(USIGTLDevice, ServerReceivesFromAClientAndRefusesImagesLargerThanTheirBody)
{
  USIGTLDevice::Pointer device = USIGTLDevice::New("Acme", "Receiver", "127.0.0.1", 0, true);
  ASSERT_TRUE(device->Initialize());
  ASSERT_TRUE(device->Connect());
  ASSERT_TRUE(device->Activate());
  const int port = device->GetIGTLDevice()->GetPortNumber();
  ASSERT_GT(port, 0);

  // a hostile peer: an IMAGE header and body (with a correct CRC) that claim 100 x 100 pixels, with 16 sent
  vorlen::CapturingSink sink;
  {
    igtl::ImageMessage::Pointer claim = igtl::ImageMessage::New();
    claim->SetDimensions(100, 100, 1);
    claim->SetScalarType(igtl::ImageMessage::TYPE_UINT8);
    claim->AllocateScalars();
    claim->Pack();
    std::vector<unsigned char> body(static_cast<const unsigned char *>(claim->GetPackBodyPointer()),
                                    static_cast<const unsigned char *>(claim->GetPackBodyPointer()) +
                                      IGTL_IMAGE_HEADER_SIZE + 16);
    igtl_header header;
    std::memcpy(&header, claim->GetPackPointer(), IGTL_HEADER_SIZE);
    igtl_header_convert_byte_order(&header); // to host order
    header.body_size = body.size();
    header.crc = crc64(body.data(), body.size(), 0);
    igtl_header_convert_byte_order(&header);
    std::vector<unsigned char> bytes(IGTL_HEADER_SIZE);
    std::memcpy(bytes.data(), &header, IGTL_HEADER_SIZE);
    bytes.insert(bytes.end(), body.begin(), body.end());

    vexa::IGTLClientSocket::Pointer hostile = vexa::IGTLClientSocket::New();
    ASSERT_EQ(0, hostile->ConnectToServer("127.0.0.1", port));
    ASSERT_EQ(1, hostile->Send(bytes.data(), static_cast<igtlUint64>(bytes.size())));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    hostile->CloseSocket();
  }
  device->Modified();
  device->Update();
  EXPECT_TRUE(device->GetOutput()->IsEmpty()) << "nothing of the hostile image reached the output";
  EXPECT_TRUE(device->GetIsActive()) << "a server goes on after a client broke off";

  vexa::IGTLClient::Pointer client = vexa::IGTLClient::New(true);
  client->SetHostname("127.0.0.1");
  client->SetPortNumber(port);
  ASSERT_TRUE(client->OpenConnection());
  ASSERT_TRUE(client->StartCommunication());
  vexa::Image::Pointer image = MakeImage(33, 7, 0.3, 0.6, 1.5, 2.5);
  ASSERT_TRUE(SendUntil(client, AsMessage(image), device, [](vexa::Image *) { return true; }));
  ExpectSameImage(image, device->GetOutput());

  client->CloseConnection();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(device->GetIsActive()) << "losing a client does not stop a server";
  device->Deactivate();
  EXPECT_EQ("false", IsActiveText(device));
  device->UnregisterOnService();
}

TEST(USIGTLDevice, AServerLeftWithoutClientsPublishesTheLastOneUntilTheNextComes)
{
  const auto &keys = USDevice::GetPropertyKeys();
  USIGTLDevice::Pointer device = USIGTLDevice::New("Acme", "Listener", "127.0.0.1", 0, true);
  ASSERT_TRUE(device->Initialize());
  ASSERT_TRUE(device->Connect());
  ASSERT_TRUE(device->Activate());
  vexa::IGTLDevice *server = device->GetIGTLDevice();
  const int port = server->GetPortNumber();
  std::mutex mutex;
  std::vector<std::string> published; // each change of the lost client, as the registry's listeners see it
  std::string last;
  const us::ListenerToken token = us::GetModuleContext()->AddServiceListener(
    [&](const us::ServiceEvent &event) {
      const std::string value = event.GetServiceReference().GetProperty(keys.US_PROPKEY_LOST_CLIENT).ToString();
      std::lock_guard<std::mutex> lock(mutex);
      if (value != last)
        published.push_back(value);
      last = value;
    },
    "(objectclass=org.vexa.services.UltrasoundDevice)");
  const auto publishedSoFar = [&] {
    std::lock_guard<std::mutex> lock(mutex);
    return published;
  };

  // of two clients, the first to leave leaves one behind: nothing to tell
  vexa::IGTLClientSocket::Pointer first = vexa::test::ConnectRaw(port);
  vexa::IGTLClientSocket::Pointer second = vexa::test::ConnectRaw(port);
  ASSERT_TRUE(first.IsNotNull() && second.IsNotNull());
  ASSERT_TRUE(WaitUntil([&] { return server->GetNumberOfConnections() == 2; }));
  first->Close();
  ASSERT_TRUE(WaitUntil([&] { return server->GetNumberOfConnections() == 1; }));
  const std::string address = vexa::test::LocalAddressOf(second);
  second->Close();
  ASSERT_TRUE(WaitUntil([&] { return !publishedSoFar().empty(); }));
  EXPECT_EQ(std::vector<std::string>{address}, publishedSoFar());
  EXPECT_TRUE(device->GetIsActive()) << "a server waits for the next client";

  // the next client: the key goes, and its pictures are counted
  const std::uint64_t before = device->GetNumberOfAcquiredPictures();
  vexa::IGTLClient::Pointer next = vexa::test::StartClient(port);
  ASSERT_TRUE(next.IsNotNull());
  ASSERT_TRUE(WaitUntil([&] { return publishedSoFar().size() == 2; }));
  EXPECT_EQ((std::vector<std::string>{address, ""}), publishedSoFar());
  ASSERT_TRUE(SendUntil(next, AsMessage(MakeImage(8, 4, 1, 1, 0, 0)), device, [](vexa::Image *) { return true; }));
  EXPECT_GT(device->GetNumberOfAcquiredPictures(), before);

  us::GetModuleContext()->RemoveServiceListener(token);
  device->UnregisterOnService();
}

TEST(USIGTLDevice, AClientWithoutServerFailsToConnect)
{
  vorlen::CapturingSink sink;
  // a port nobody listens on: take one the system gives, then close it
  int port = 0;
  {
    vexa::IGTLServer::Pointer server = vexa::IGTLServer::New(true);
    server->SetPortNumber(0);
    ASSERT_TRUE(server->OpenConnection());
    port = server->GetPortNumber();
    server->CloseConnection();
  }
  USIGTLDevice::Pointer device = USIGTLDevice::New("Acme", "Nobody", "127.0.0.1", port, false);
  ASSERT_TRUE(device->Initialize());
  EXPECT_FALSE(device->Connect());
  EXPECT_TRUE(sink.Contains("Cannot connect to 127.0.0.1:" + std::to_string(port), 2));
  device->UnregisterOnService();
}

TEST(USIGTLDevice, ConversionChecksEverySizeBeforeCopying)
{
  const auto make = [](int scalarType, int components) {
    igtl::ImageMessage::Pointer m = igtl::ImageMessage::New();
    m->SetDimensions(4, 3, 1);
    m->SetScalarType(scalarType);
    m->SetNumComponents(components);
    m->SetSpacing(0.5f, 0.5f, 1.0f);
    m->AllocateScalars();
    std::memset(m->GetScalarPointer(), 1, m->GetImageSize());
    return m;
  };

  struct Case
  {
    const char *what;
    std::function<igtl::ImageMessage::Pointer()> message;
    bool accepted;
  };
  const std::vector<Case> cases = {
    {"8-bit grey", [&] { return make(igtl::ImageMessage::TYPE_UINT8, 1); }, true},
    {"float RGB", [&] { return make(igtl::ImageMessage::TYPE_FLOAT32, 3); }, true},
    {"sizes beyond the body",
     [&] {
       auto m = make(igtl::ImageMessage::TYPE_UINT8, 1);
       m->SetDimensions(4000, 3000, 1); // the body still holds 12 pixels
       return m;
     },
     false},
    {"unknown scalar type",
     [&] {
       auto m = make(igtl::ImageMessage::TYPE_UINT8, 1);
       m->SetScalarType(9);
       return m;
     },
     false},
    {"two components", [&] { return make(igtl::ImageMessage::TYPE_UINT8, 2); }, false},
    {"zero spacing",
     [&] {
       auto m = make(igtl::ImageMessage::TYPE_UINT8, 1);
       m->SetSpacing(0.0f, 1.0f, 1.0f);
       return m;
     },
     false},
  };
  for (const Case &c : cases)
  {
    // a frame holding an earlier picture keeps it when a message is refused
    vexa::USImageFrame frame;
    ASSERT_TRUE(frame.Reshape(vexa::CreateScalarPixelType<unsigned char>(), 2, 2));
    std::memset(frame.GetData(), 9, 4);
    std::string why;
    EXPECT_EQ(c.accepted, vexa::ConvertImageMessage(c.message(), frame, &why)) << c.what << ": " << why;
    if (c.accepted)
    {
      EXPECT_EQ(4u, frame.GetSize()[0]) << c.what;
      EXPECT_EQ(1, frame.GetPixels()[0]) << c.what;
    }
    else
    {
      EXPECT_FALSE(why.empty()) << c.what;
      EXPECT_EQ(2u, frame.GetSize()[0]) << c.what;
      EXPECT_EQ(9, frame.GetPixels()[0]) << c.what;
    }
  }
}

TEST(USIGTLDevice, ConversionSwapsBytesOfTheOtherEndianAndPlacesTheOrigin)
{
  igtl::ImageMessage::Pointer m = igtl::ImageMessage::New();
  m->SetDimensions(3, 2, 1);
  m->SetScalarType(igtl::ImageMessage::TYPE_UINT16);
  m->SetEndian(igtl_is_little_endian() ? igtl::ImageMessage::ENDIAN_BIG : igtl::ImageMessage::ENDIAN_LITTLE);
  m->SetSpacing(2.0f, 4.0f, 1.0f);
  m->SetOrigin(100.0f, 50.0f, 0.0f); // the centre of the image
  m->AllocateScalars();
  auto *pixels = static_cast<unsigned short *>(m->GetScalarPointer());
  for (int i = 0; i < 6; ++i)
    pixels[i] = static_cast<unsigned short>(0x0100 * (i + 1)); // i + 1 in the other byte order
  vexa::USImageFrame frame;
  ASSERT_TRUE(vexa::ConvertImageMessage(m, frame));
  const auto *converted = reinterpret_cast<const unsigned short *>(frame.GetPixels());
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(i + 1, converted[i]);
  EXPECT_DOUBLE_EQ(100.0 - 2.0, frame.Origin[0]); // one pixel left of the centre column
  EXPECT_DOUBLE_EQ(50.0 - 2.0, frame.Origin[1]);  // half a pixel above the centre
  EXPECT_DOUBLE_EQ(4.0, frame.Spacing[1]);
}
