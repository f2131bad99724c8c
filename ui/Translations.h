#pragma once

// The toolkit's own texts (file dialog, edit boxes' context menu, standard buttons) in
// Simplified Chinese, as the rest of the program speaks. True when the translations were found
// and installed; without them the toolkit's texts stay English.
bool InstallToolkitTranslations();
