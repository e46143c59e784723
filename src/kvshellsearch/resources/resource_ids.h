// Resource identifiers shared by the resource script, the module and satellite modules.
#pragma once

#define IDS_MENU_TEXT_NEWER_SHELL 1
#define IDS_CLASS_DISPLAY_NAME 2
#define IDS_MENU_TEXT_OLDER_SHELL 3

#define IDI_SEARCH_ICON 101
