#include "notify/nota_manager.h"

#include "core/form1.h"

namespace ostrel {

NotaManager::NotaManager(Form1& form) : form_(form) {}

NotaManager::~NotaManager() = default;

void NotaManager::show_total(const QString&) {}

void NotaManager::show_default_instance() {}

}  // namespace ostrel
