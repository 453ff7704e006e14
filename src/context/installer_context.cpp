#include "context/installer_context.h"

namespace autorun {

// The logos are released when the process's installer ends, after every dialog is gone.
InstallerContext::~InstallerContext() {
  questionLogo.release();
  statusLogo.release();
}

}  // namespace autorun
