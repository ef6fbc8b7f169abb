#include "HttpStatus.h"

bool IsSuccessHttpStatus(unsigned long status)
{
    return status >= 200 && status <= 299;
}

bool DownloadArrived(long downloadResult, unsigned long finalHttpStatus)
{
    if (downloadResult < 0) return false;
    return finalHttpStatus == kNoHttpStatus || IsSuccessHttpStatus(finalHttpStatus);
}
