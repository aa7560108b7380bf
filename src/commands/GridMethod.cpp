#include <GridApi/GridMethod.h>

namespace GridApi {

GridMethod::~GridMethod() = default;

}  // namespace GridApi
