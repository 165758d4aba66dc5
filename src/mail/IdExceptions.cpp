#include "mail/IdExceptions.h"

#include <cerrno>
#include <cstring>
#include <netdb.h>

EIdSocketError::EIdSocketError(int lastError)
    : EIdException(SocketErrorMessage(lastError)), LastError(lastError)
{
}

int SocketErrorFromErrno(int err)
{
    switch (err)
    {
    case EINTR: return Id_WSAEINTR;
    case EBADF: return Id_WSAEBADF;
    case EACCES:
    case EPERM: return Id_WSAEACCES;
    case ENOTSOCK: return Id_WSAENOTSOCK;
    case EADDRINUSE: return Id_WSAEADDRINUSE;
    case EADDRNOTAVAIL: return Id_WSAEADDRNOTAVAIL;
    case ENETDOWN: return Id_WSAENETDOWN;
    case ENETUNREACH: return Id_WSAENETUNREACH;
    case ENETRESET: return Id_WSAENETRESET;
    case ECONNABORTED: return Id_WSAECONNABORTED;
    // We never shut a socket down for writing, so a broken pipe on a TCP
    // socket means the peer reset the connection.
    case ECONNRESET:
    case EPIPE: return Id_WSAECONNRESET;
    case ENOBUFS:
    case ENOMEM: return Id_WSAENOBUFS;
    case ENOTCONN: return Id_WSAENOTCONN;
    case ESHUTDOWN: return Id_WSAESHUTDOWN;
    case ETIMEDOUT: return Id_WSAETIMEDOUT;
    case ECONNREFUSED: return Id_WSAECONNREFUSED;
    case EHOSTDOWN: return Id_WSAEHOSTDOWN;
    case EHOSTUNREACH: return Id_WSAEHOSTUNREACH;
    default: return err;
    }
}

int SocketErrorFromLookup(int gaiCode, int err)
{
    switch (gaiCode)
    {
    case EAI_NONAME:
#ifdef EAI_NODATA
    case EAI_NODATA:
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
#endif
        return Id_WSAHOST_NOT_FOUND;
    case EAI_AGAIN: return Id_WSATRY_AGAIN;
    case EAI_FAIL: return Id_WSANO_RECOVERY;
    case EAI_MEMORY: return Id_WSAENOBUFS;
    case EAI_SYSTEM: return SocketErrorFromErrno(err);
    default: return Id_WSANO_RECOVERY;
    }
}

std::string SocketErrorDescription(int number)
{
    switch (number)
    {
    case 10004: return "Interrupted system call.";
    case 10013: return "Access denied.";
    case 10048: return "Address already in use.";
    case 10049: return "Cannot assign requested address.";
    case 10050: return "Network is down.";
    case 10051: return "Network is unreachable.";
    case 10052: return "Net dropped connection or reset.";
    case 10053: return "Software caused connection abort.";
    case 10054: return "Connection reset by peer.";
    case 10055: return "No buffer space available.";
    case 10057: return "Socket is not connected.";
    case 10058: return "Cannot send or receive after socket is closed.";
    case 10060: return "Connection timed out.";
    case 10061: return "Connection refused.";
    case 10064: return "Host is down.";
    case 10065: return "No route to host.";
    case 11001: return "Host not found.";
    // Met here only on paths the table does not cover.
    case 10009: return "Bad file number.";
    case 10038: return "Socket operation on non-socket.";
    case 11002: return "Non-authoritative host not found.";
    case 11003: return "Non-recoverable error.";
    default:
        if (number > 0 && number < 10000)
            return std::strerror(number);
        return "Unknown error.";
    }
}

std::string SocketErrorMessage(int number)
{
    return "Socket Error # " + std::to_string(number) + "\r\n" + SocketErrorDescription(number);
}

void RaiseSocketError(int number)
{
    throw EIdSocketError(number);
}

void RaiseSocketErrorFromErrno(int err)
{
    throw EIdSocketError(SocketErrorFromErrno(err));
}
