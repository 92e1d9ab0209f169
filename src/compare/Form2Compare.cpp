#include "Form2.h"

namespace catalogue {

// The comparison behind the table selection window's "Next >".
void Form2::PushButton3_Click() {}

}  // namespace catalogue
