// `autorun-sim preview` in a build without FreeType or libpng: the command exists, so that
// scripts get a clear answer rather than an unknown-command error.
#include <ostream>

#include "preview.h"

namespace autorun::preview {

int runPreview(const PreviewOptions&, std::ostream&, std::ostream& err) {
  err << "autorun-sim preview: this autorun-sim was built without the preview (FreeType and "
         "libpng: install libfreetype-dev and libpng-dev, and build with AUTORUN_PREVIEW on "
         "or AUTO)\n";
  return kPreviewUsage;
}

}  // namespace autorun::preview
