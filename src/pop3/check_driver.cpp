#include "pop3/check_driver.h"

#include "core/form1.h"

namespace ostrel {

CheckDriver::CheckDriver(Form1& form) : QObject(&form), form_(form) {}

CheckDriver::~CheckDriver() = default;

void CheckDriver::executa2() {}

}  // namespace ostrel
