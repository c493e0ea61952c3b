#include "vexaIGTLStartBindMessage.h"

namespace vexa
{
  IGTLStartBindMessage::IGTLStartBindMessage() = default;

  IGTLStartBindMessage::~IGTLStartBindMessage() = default;

  int IGTLStartBindMessage::UnpackBody()
  {
    const int size = GetPackBodySize();
    if (m_Body == nullptr || size < 8)
      return 0;
    igtlUint64 resolution = 0;
    for (int i = 0; i < 8; ++i) // network byte order
      resolution = (resolution << 8) | m_Body[i];
    m_Resolution = resolution;
    return 1;
  }
}
