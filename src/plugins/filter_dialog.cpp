#include "filter_dialog.h"

#include "platform/platform.h"
#include "ui/dialog.h"
#include "ui/preview.h"

namespace veltrane {

int runPluginDialog(const PluginDefinition& plugin, std::intptr_t owner) {
  platform::WidgetToolkit* toolkit = platform::widgetToolkit();
  if (!toolkit) return platform::showFilterDialog();
  platform::setDialogOwner(owner);
  ui::LivePreview preview(*plugin.engine);
  return ui::runFilterDialog(*toolkit,
                             ui::DialogSetup{plugin.deliverable, plugin.profile, &preview, plugin.profileArea});
}

}  // namespace veltrane
