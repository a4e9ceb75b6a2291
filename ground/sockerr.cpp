#include "ground/sockerr.h"

#include <cerrno>
#include <netdb.h>

namespace tessaly::sockerr {

namespace {

struct Row {
    int k;
    const char* name;
    const char* text;
};

constexpr Row kTable[] = {
    {-10000, "WSABASEERR", "No Error"},
    {4, "WSAEINTR", "Interrupted system call"},
    {9, "WSAEBADF", "Bad file number"},
    {13, "WSAEACCES", "Permission denied"},
    {14, "WSAEFAULT", "Bad address"},
    {22, "WSAEINVAL", "Invalid argument"},
    {24, "WSAEMFILE", "Too many open files"},
    {35, "WSAEWOULDBLOCK", "Operation would block"},
    {36, "WSAEINPROGRESS", "Operation now in progress"},
    {37, "WSAEALREADY", "Operation already in progress"},
    {38, "WSAENOTSOCK", "Socket operation on non-socket"},
    {39, "WSAEDESTADDRREQ", "Destination address required"},
    {40, "WSAEMSGSIZE", "Message too long"},
    {41, "WSAEPROTOTYPE", "Protocol wrong type for socket"},
    {42, "WSAENOPROTOOPT", "Bad protocol option"},
    {43, "WSAEPROTONOSUPPORT", "Protocol not supported"},
    {44, "WSAESOCKTNOSUPPORT", "Socket type not supported"},
    {45, "WSAEOPNOTSUPP", "Operation not supported on socket"},
    {46, "WSAEPFNOSUPPORT", "Protocol family not supported"},
    {47, "WSAEAFNOSUPPORT", "Address family not supported by protocol family"},
    {48, "WSAEADDRINUSE", "Address already in use"},
    {49, "WSAEADDRNOTAVAIL", "Can't assign requested address"},
    {50, "WSAENETDOWN", "Network is down"},
    {51, "WSAENETUNREACH", "Network is unreachable"},
    {52, "WSAENETRESET", "Net dropped connection or reset"},
    {53, "WSAECONNABORTED", "Software caused connection abort"},
    {54, "WSAECONNRESET", "Connection reset by peer"},
    {55, "WSAENOBUFS", "No buffer space available"},
    {56, "WSAEISCONN", "Socket is already connected"},
    {57, "WSAENOTCONN", "Socket is not connected"},
    {58, "WSAESHUTDOWN", "Can't send after socket shutdown"},
    {59, "WSAETOOMANYREFS", "Too many references, can't splice"},
    {60, "WSAETIMEDOUT", "Connection timed out"},
    {61, "WSAECONNREFUSED", "Connection refused"},
    {62, "WSAELOOP", "Too many levels of symbolic links"},
    {63, "WSAENAMETOOLONG", "File name too long"},
    {64, "WSAEHOSTDOWN", "Host is down"},
    {65, "WSAEHOSTUNREACH", "No Route to Host"},
    {66, "WSAENOTEMPTY", "Directory not empty"},
    {67, "WSAEPROCLIM", "Too many processes"},
    {68, "WSAEUSERS", "Too many users"},
    {69, "WSAEDQUOT", "Disc Quota Exceeded"},
    {70, "WSAESTALE", "Stale NFS file handle"},
    {71, "WSAEREMOTE", "Too many levels of remote in path"},
    {91, "WSASYSNOTREADY", "Network SubSystem is unavailable"},
    {92, "WSAVERNOTSUPPORTED", "WINSOCK DLL Version out of range"},
    {93, "WSANOTINITIALISED", "Successful WSASTARTUP not yet performed"},
    {1001, "WSAHOST_NOT_FOUND", "Host not found"},
    {1002, "WSATRY_AGAIN", "Non-Authoritative Host not found"},
    {1003, "WSANO_RECOVERY", "Non-Recoverable errors: FORMERR, REFUSED, NOTIMP"},
    {1004, "WSANO_DATA or WSANO_ADDRESS",
     "Valid name, no data record of requested type *OR* No address, look for MX record"},
};

const Row* find(int k) {
    for (const Row& row : kTable)
        if (row.k == k)
            return &row;
    return nullptr;
}

} // namespace

QString Text(int k) {
    const Row* row = find(k);
    return row ? QString::fromLatin1(row->text) : QStringLiteral("Unknown Error");
}

QString Name(int k) {
    const Row* row = find(k);
    return row ? QString::fromLatin1(row->name) : QString();
}

QString Lookup(int k, QString* name) {
    if (name)
        *name = Name(k);
    return Text(k);
}

int FromErrno(int e) {
    switch (e) {
    case 0: return NoError;
    case EINTR: return 4;
    case EBADF: return 9;
    case EACCES:
    case EPERM: return 13;
    case EFAULT: return 14;
    case EINVAL: return 22;
    case EMFILE:
    case ENFILE: return 24;
    case EAGAIN: return 35;
    case EINPROGRESS: return 36;
    case EALREADY: return 37;
    case ENOTSOCK: return 38;
    case EDESTADDRREQ: return 39;
    case EMSGSIZE: return 40;
    case EPROTOTYPE: return 41;
    case ENOPROTOOPT: return 42;
    case EPROTONOSUPPORT: return 43;
    case ESOCKTNOSUPPORT: return 44;
    case EOPNOTSUPP: return 45;
    case EPFNOSUPPORT: return 46;
    case EAFNOSUPPORT: return 47;
    case EADDRINUSE: return 48;
    case EADDRNOTAVAIL: return 49;
    case ENETDOWN: return 50;
    case ENETUNREACH: return 51;
    case ENETRESET: return 52;
    case ECONNABORTED: return 53;
    case ECONNRESET:
    case EPIPE: return 54;
    case ENOBUFS:
    case ENOMEM: return 55;
    case EISCONN: return 56;
    case ENOTCONN: return 57;
    case ESHUTDOWN: return 58;
    case ETOOMANYREFS: return 59;
    case ETIMEDOUT: return 60;
    case ECONNREFUSED: return 61;
    case ELOOP: return 62;
    case ENAMETOOLONG: return 63;
    case EHOSTDOWN: return 64;
    case EHOSTUNREACH: return 65;
    case ENOTEMPTY: return 66;
    case EUSERS: return 68;
    case EDQUOT: return 69;
    case ESTALE: return 70;
    case EREMOTE: return 71;
    default: return ConnectionAborted;
    }
}

int FromResolver(int eai) {
    switch (eai) {
    case 0: return NoError;
    case EAI_NONAME: return HostNotFound;
#ifdef EAI_NODATA
    case EAI_NODATA: return NoData;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY: return NoData;
#endif
    case EAI_AGAIN: return TryAgain;
    case EAI_FAIL: return NoRecovery;
    case EAI_SYSTEM: return FromErrno(errno);
    default: return NoRecovery;
    }
}

} // namespace tessaly::sockerr
