#include "tramlix/model.hpp"

namespace tramlix {

MovingData Activity::moving_data(double) const { return {}; }  // TODO

}  // namespace tramlix
