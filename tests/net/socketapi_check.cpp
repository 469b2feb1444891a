// Built against net_api alone, with no Qt on the include path: the session's
// view of the transport must compile without dragging QtNetwork in.

#include "net/socketapi.h"

#ifdef QT_VERSION
#error "net/socketapi.h pulls in Qt"
#endif

#include <type_traits>

static_assert(std::is_abstract_v<ISocketConnection>, "connections are implemented by the transport");
