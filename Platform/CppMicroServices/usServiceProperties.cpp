#include <usServiceProperties.h>

namespace us
{
  namespace ServiceConstants
  {
    const std::string &OBJECTCLASS()
    {
      static const std::string key("objectclass");
      return key;
    }

    const std::string &SERVICE_ID()
    {
      static const std::string key("service.id");
      return key;
    }

    const std::string &SERVICE_RANKING()
    {
      static const std::string key("service.ranking");
      return key;
    }
  }
}
