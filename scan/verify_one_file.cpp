#include "scan/scan_workers.h"
#include "verify/file_verification.h"
#include "verify/signer_name.h"

int VerifyOneFile(CString path) {
    if (path.IsEmpty())
        return -1;
    g_szSignerName[0] = u'\0';
    return VerifyFileSignature(path);
}
