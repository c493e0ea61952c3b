#ifndef vexaIGTLPipelineTestSupport_h
#define vexaIGTLPipelineTestSupport_h

// Pieces of the pipeline tests: a peer made of nothing but OpenIGTLink's own
// socket and message classes (as any standard OpenIGTLink program is), a
// small tracking-data message source, and toolkit images with known pixels
// and geometry.

#include "vexaIGTLTestSupport.h"

#include <vexaIGTLMessageSource.h>
#include <vexaImage.h>
#include <vexaImageWriteAccessor.h>
#include <vexaPixelTypeTraits.h>

#include <igtlBindMessage.h>
#include <igtlClientSocket.h>
#include <igtlImageMessage.h>
#include <igtlMessageHeader.h>
#include <igtlQuaternionTrackingDataMessage.h>
#include <igtlServerSocket.h>
#include <igtlTrackingDataMessage.h>
#include <igtlTransformMessage.h>

#include <vnl/vnl_matrix_fixed.h>

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace vexa
{
  namespace test
  {
    /** One message as a peer reads it: its header and, for the types the peer knows, the unpacked body. */
    struct Received
    {
      std::string type;
      std::string deviceName;
      igtl::MessageBase::Pointer message; // null for a type the peer does not unpack
      bool crcOk = false;
    };

    /**
     * The OpenIGTLink side of the tests, on OpenIGTLink's own socket classes
     * (a plain igtl::ClientSocket, or one accepted by igtl::ServerSocket).
     */
    class Peer
    {
    public:
      explicit Peer(igtl::Socket::Pointer socket = nullptr) : m_Socket(socket) {}

      bool Connect(int port)
      {
        igtl::ClientSocket::Pointer socket = igtl::ClientSocket::New();
        if (socket->ConnectToServer("127.0.0.1", port) != 0)
          return false;
        m_Socket = socket.GetPointer();
        m_Socket->SetTimeout(10000);
        return true;
      }

      bool IsConnected() const { return m_Socket.IsNotNull() && m_Socket->GetConnected(); }

      bool Send(igtl::MessageBase *message)
      {
        message->Pack();
        return m_Socket->Send(message->GetPackPointer(), message->GetPackSize()) == 1;
      }

      bool SendBytes(const std::vector<unsigned char> &bytes)
      {
        return m_Socket->Send(bytes.data(), static_cast<int>(bytes.size())) == 1;
      }

      /** A request with an empty body and any type name, as a careless or hostile peer may send it. */
      bool SendRequest(const std::string &type, const std::string &deviceName = "Peer")
      {
        return SendBytes(RawHeader(type, 0, IGTL_HEADER_VERSION, {}, deviceName));
      }

      /** Reads the next message (waiting up to the socket's time-out); false when none came. */
      bool Receive(Received &out)
      {
        igtl::MessageHeader::Pointer header = igtl::MessageHeader::New();
        header->InitPack();
        if (m_Socket->Receive(header->GetPackPointer(), header->GetPackSize(), 1) != header->GetPackSize())
          return false;
        header->Unpack();
        out.type = header->GetDeviceType();
        out.deviceName = header->GetDeviceName();
        out.message = nullptr;
        out.crcOk = false;
        igtl::MessageBase::Pointer body = MakeBody(out.type);
        if (body.IsNull())
        {
          if (header->GetBodySizeToRead() > 0 && m_Socket->Skip(static_cast<int>(header->GetBodySizeToRead()), 1) <= 0)
            return false;
          return true;
        }
        body->SetMessageHeader(header);
        body->AllocatePack();
        if (body->GetPackBodySize() > 0 &&
            m_Socket->Receive(body->GetPackBodyPointer(), body->GetPackBodySize(), 1) != body->GetPackBodySize())
          return false;
        out.crcOk = (body->Unpack(1) & igtl::MessageHeader::UNPACK_BODY) != 0;
        out.message = body;
        return true;
      }

      void SetTimeout(int milliseconds) { m_Socket->SetTimeout(milliseconds); }
      void Close() { m_Socket->CloseSocket(); }

    private:
      static igtl::MessageBase::Pointer MakeBody(const std::string &type)
      {
        if (type == "IMAGE")
          return igtl::ImageMessage::New().GetPointer();
        if (type == "TDATA")
          return igtl::TrackingDataMessage::New().GetPointer();
        if (type == "TRANSFORM")
          return igtl::TransformMessage::New().GetPointer();
        if (type == "RTS_TDATA")
          return igtl::RTSTrackingDataMessage::New().GetPointer();
        if (type == "RTS_QTDATA")
          return igtl::RTSQuaternionTrackingDataMessage::New().GetPointer();
        if (type == "RTS_BIND")
          return igtl::RTSBindMessage::New().GetPointer();
        return nullptr;
      }

      igtl::Socket::Pointer m_Socket;
    };

    /** A tracking-data message with one element whose x position is `x`. */
    inline igtl::TrackingDataMessage::Pointer MakeTrackingData(float x, const std::string &deviceName = "Tracker")
    {
      igtl::TrackingDataMessage::Pointer message = igtl::TrackingDataMessage::New();
      message->SetDeviceName(deviceName.c_str());
      igtl::TrackingDataElement::Pointer element = igtl::TrackingDataElement::New();
      element->SetName("Tool");
      element->SetPosition(x, 2.0f, 3.0f);
      message->AddTrackingDataElement(element);
      return message;
    }

    inline float TrackingX(const igtl::MessageBase::Pointer &message)
    {
      auto *tdata = dynamic_cast<igtl::TrackingDataMessage *>(message.GetPointer());
      if (tdata == nullptr || tdata->GetNumberOfTrackingDataElements() < 1)
        return NAN;
      igtl::TrackingDataElement::Pointer element;
      tdata->GetTrackingDataElement(0, element);
      float position[3];
      element->GetPosition(position);
      return position[0];
    }

    /**
     * A message source of device type "TDATA" that makes a new tracking-data
     * message on every update (its x position counts the updates).
     */
    class TrackingDataSource : public IGTLMessageSource
    {
    public:
      vexaClassMacro(TrackingDataSource, IGTLMessageSource);
      vexaNewMacro(TrackingDataSource);

      void UpdateOutputInformation() override
      {
        this->Modified();
        Superclass::UpdateOutputInformation();
      }

      std::atomic<int> updates{0};

    protected:
      TrackingDataSource()
      {
        this->SetType("TDATA");
        this->SetNumberOfRequiredOutputs(1);
        this->SetNthOutput(0, IGTLMessage::New().GetPointer());
      }

      void GenerateData() override
      {
        const int n = ++updates;
        GetOutput()->SetMessage(MakeTrackingData(static_cast<float>(n)).GetPointer());
      }
    };

    /**
     * An image of the given pixel type and size whose bytes are 0, 1, 2, ...
     * (mod 251), with spacing, origin and a rotation about z, so that every
     * part of the geometry is visible in a message.
     */
    template <typename T>
    Image::Pointer MakeImage(std::vector<unsigned int> size, std::size_t components = 1, double angle = 0.5)
    {
      Image::Pointer image = Image::New();
      const PixelType type = CreatePixelType<T, T>(components);
      image->Initialize(type, static_cast<unsigned int>(size.size()), size.data());
      {
        ImageWriteAccessor access(image);
        auto *bytes = static_cast<unsigned char *>(access.GetData());
        for (std::size_t i = 0; i < access.GetSize(); ++i)
          bytes[i] = static_cast<unsigned char>(i % 251);
      }
      BaseGeometry *geometry = image->GetGeometry(0);
      BaseGeometry::TransformType::MatrixType rotation;
      rotation.SetIdentity();
      rotation[0][0] = std::cos(angle);
      rotation[0][1] = -std::sin(angle);
      rotation[1][0] = std::sin(angle);
      rotation[1][1] = std::cos(angle);
      BaseGeometry::TransformType::Pointer transform = BaseGeometry::TransformType::New();
      transform->SetMatrix(rotation);
      geometry->SetIndexToWorldTransform(transform);
      Vector3D spacing;
      spacing[0] = 0.5;
      spacing[1] = 0.25;
      spacing[2] = 2.0;
      geometry->SetSpacing(spacing);
      Point3D origin;
      origin[0] = 10.0;
      origin[1] = -20.0;
      origin[2] = 30.5;
      geometry->SetOrigin(origin);
      return image;
    }

    /**
     * Expects an image message to carry the image's geometry as OpenIGTLink
     * defines it: the spacing, the direction columns without the spacing, and
     * as position the centre of the image (not its first voxel).
     */
    inline void ExpectGeometryOf(const Image *image, igtl::ImageMessage *message)
    {
      const BaseGeometry *geometry = image->GetGeometry(0);
      const Vector3D spacing = geometry->GetSpacing();
      const AffineMatrix4x4 matrix = geometry->GetMatrix4x4();
      float readSpacing[3];
      message->GetSpacing(readSpacing);
      igtl::Matrix4x4 readMatrix;
      message->GetMatrix(readMatrix);
      int dims[3];
      message->GetDimensions(dims);
      Point3D centreIndex;
      for (int d = 0; d < 3; ++d)
        centreIndex[d] = (dims[d] - 1) / 2.0;
      const Point3D centre = geometry->IndexToWorld(centreIndex);
      for (int r = 0; r < 3; ++r)
      {
        EXPECT_NEAR(spacing[r], readSpacing[r], 1e-5) << r;
        EXPECT_NEAR(centre[r], readMatrix[r][3], 1e-4) << r;
        for (int c = 0; c < 3; ++c)
          EXPECT_NEAR(matrix[r][c] / spacing[c], readMatrix[r][c], 1e-5) << r << "," << c;
      }
    }
  }
}

#endif
