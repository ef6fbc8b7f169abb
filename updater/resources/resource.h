#pragma once

#define IDD_UPDATE 101
#define IDC_PROGRESS 1001
#define IDC_STATUS 1002
#define IDC_INSTALL 1003
