#include "package/package.h"

extern "C" package::Record zorven_package_record;

namespace package {

Record& embedded() { return zorven_package_record; }

}  // namespace package
