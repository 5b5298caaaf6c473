// What every modifier class shares: one dual interface that extends
// IPictureModifier (answered with the same pointer, so a client can apply
// any modifier without knowing its class) and the working handle m_preHnd.
#pragma once

#include <cstdint>

#include "quillbox.h"
#include "server/com_object.h"

namespace qb {

template <class Iface, class... Extra>
class Modifier : public ComObject<Iface, Extra...> {
 public:
  using ComObject<Iface, Extra...>::ComObject;

 protected:
  bool AlsoPrimary(REFIID riid) const override { return riid == __uuidof(IPictureModifier); }

  int32_t m_preHnd = 0;
};

}  // namespace qb
