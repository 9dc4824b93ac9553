#include "kiv.basis/lib/error_texts.h"

#include <algorithm>
#include <cstddef>
#include <iterator>

namespace {

const char kUnknownError[] = "Unknown error";
const char kEmpty[] = "";

struct SocketText {
    int code;
    const char* text;
};

// Windows Sockets errors as WSAGetLastError reports them. Each text is the
// short name, a full stop, then the explanation with no space between, the
// way the messages have always been shown to users. Sorted by code.
constexpr SocketText kSocketTexts[] = {
    // WSA_INVALID_HANDLE
    {6,
     "Specified event object handle is invalid.An application attempts to use an event object, "
     "but the specified handle is not valid."},
    // WSA_NOT_ENOUGH_MEMORY
    {8,
     "Insufficient memory available.An application used a Windows Sockets function that directly "
     "maps to a Windows function. The Windows function is indicating a lack of required memory "
     "resources."},
    // WSA_INVALID_PARAMETER
    {87,
     "One or more parameters are invalid.An application used a Windows Sockets function which "
     "directly maps to a Windows function. The Windows function is indicating a problem with one "
     "or more parameters."},
    // WSA_OPERATION_ABORTED
    {995,
     "Overlapped operation aborted.An overlapped operation was canceled due to the closure of the "
     "socket, or the execution of the SIO_FLUSH command in WSAIoctl."},
    // WSA_IO_INCOMPLETE
    {996,
     "Overlapped I/O event object not in signaled state.The application has tried to determine "
     "the status of an overlapped operation which is not yet completed. Applications that use "
     "WSAGetOverlappedResult (with the fWait flag set to FALSE) in a polling mode to determine "
     "when an overlapped operation has completed, get this error code until the operation is "
     "complete."},
    // WSA_IO_PENDING
    {997,
     "Overlapped operations will complete later.The application has initiated an overlapped "
     "operation that cannot be completed immediately. A completion indication will be given later "
     "when the operation has been completed."},
    // WSAEINTR
    {10004,
     "Interrupted function call.A blocking operation was interrupted by a call to "
     "WSACancelBlockingCall."},
    // WSAEBADF
    {10009, "File handle is not valid.The file handle supplied is not valid."},
    // WSAEACCES
    {10013,
     "Permission denied.An attempt was made to access a socket in a way forbidden by its access "
     "permissions. An example is using a broadcast address for sendto without broadcast "
     "permission being set using setsockopt(SO_BROADCAST)."},
    // WSAEFAULT
    {10014,
     "Bad address.The system detected an invalid pointer address in attempting to use a pointer "
     "argument of a call. This error occurs if an application passes an invalid pointer value, "
     "or if the length of the buffer is too small."},
    // WSAEINVAL
    {10022,
     "Invalid argument.Some invalid argument was supplied (for example, specifying an invalid "
     "level to the setsockopt function). In some instances, it also refers to the current state "
     "of the socket, for instance, calling accept on a socket that is not listening."},
    // WSAEMFILE
    {10024,
     "Too many open files.Too many open sockets. Each implementation may have a maximum number of "
     "socket handles available, either globally, per process, or per thread."},
    // WSAEWOULDBLOCK
    {10035,
     "Resource temporarily unavailable.This error is returned from operations on nonblocking "
     "sockets that cannot be completed immediately, for example recv when no data is queued to be "
     "read from the socket. It is a nonfatal error, and the operation should be retried later."},
    // WSAEINPROGRESS
    {10036,
     "Operation now in progress.A blocking operation is currently executing. Windows Sockets only "
     "allows a single blocking operation per task or thread to be outstanding, and if any other "
     "function call is made the function fails with the WSAEINPROGRESS error."},
    // WSAEALREADY
    {10037,
     "Operation already in progress.An operation was attempted on a nonblocking socket with an "
     "operation already in progress, that is, calling connect a second time on a nonblocking "
     "socket that is already connecting, or canceling an asynchronous request that has already "
     "been canceled or completed."},
    // WSAENOTSOCK
    {10038,
     "Socket operation on nonsocket.An operation was attempted on something that is not a "
     "socket. Either the socket handle parameter did not reference a valid socket, or for select, "
     "a member of an fd_set was not valid."},
    // WSAEDESTADDRREQ
    {10039,
     "Destination address required.A required address was omitted from an operation on a socket. "
     "For example, this error is returned if sendto is called with the remote address of "
     "ADDR_ANY."},
    // WSAEMSGSIZE
    {10040,
     "Message too long.A message sent on a datagram socket was larger than the internal message "
     "buffer or some other network limit, or the buffer used to receive a datagram was smaller "
     "than the datagram itself."},
    // WSAEPROTOTYPE
    {10041,
     "Protocol wrong type for socket.A protocol was specified in the socket function call that "
     "does not support the semantics of the socket type requested. For example, the ARPA Internet "
     "UDP protocol cannot be specified with a socket type of SOCK_STREAM."},
    // WSAENOPROTOOPT
    {10042,
     "Bad protocol option.An unknown, invalid or unsupported option or level was specified in a "
     "getsockopt or setsockopt call."},
    // WSAEPROTONOSUPPORT
    {10043,
     "Protocol not supported.The requested protocol has not been configured into the system, or "
     "no implementation for it exists. For example, a socket call requests a SOCK_DGRAM socket, "
     "but specifies a stream protocol."},
    // WSAESOCKTNOSUPPORT
    {10044,
     "Socket type not supported.The support for the specified socket type does not exist in this "
     "address family. For example, the optional type SOCK_RAW might be selected in a socket call, "
     "and the implementation does not support SOCK_RAW sockets at all."},
    // WSAEOPNOTSUPP
    {10045,
     "Operation not supported.The attempted operation is not supported for the type of object "
     "referenced. Usually this occurs when a socket descriptor to a socket that cannot support "
     "this operation is trying to accept a connection on a datagram socket."},
    // WSAEPFNOSUPPORT
    {10046,
     "Protocol family not supported.The protocol family has not been configured into the system "
     "or no implementation for it exists. This message has a slightly different meaning from "
     "WSAEAFNOSUPPORT, but is interchangeable in most cases."},
    // WSAEAFNOSUPPORT
    {10047,
     "Address family not supported by protocol family.An address incompatible with the requested "
     "protocol was used. This error is returned if an incorrect protocol is explicitly requested "
     "in the socket call, or if an address of the wrong family is used for a socket, for example, "
     "in sendto."},
    // WSAEADDRINUSE
    {10048,
     "Address already in use.Typically, only one usage of each socket address (protocol/IP "
     "address/port) is permitted. This error occurs if an application attempts to bind a socket "
     "to an IP address/port that has already been used for an existing socket, or a socket that "
     "was not closed properly, or one that is still in the process of closing."},
    // WSAEADDRNOTAVAIL
    {10049,
     "Cannot assign requested address.The requested address is not valid in its context. This "
     "normally results from an attempt to bind to an address that is not valid for the local "
     "computer."},
    // WSAENETDOWN
    {10050,
     "Network is down.A socket operation encountered a dead network. This could indicate a "
     "serious failure of the network system (that is, the protocol stack that the Windows Sockets "
     "DLL runs over), the network interface, or the local network itself."},
    // WSAENETUNREACH
    {10051,
     "Network is unreachable.A socket operation was attempted to an unreachable network. This "
     "usually means the local software knows no route to reach the remote host."},
    // WSAENETRESET
    {10052,
     "Network dropped connection on reset.The connection has been broken due to keep-alive "
     "activity detecting a failure while the operation was in progress. It can also be returned "
     "by setsockopt if an attempt is made to set SO_KEEPALIVE on a connection that has already "
     "failed."},
    // WSAECONNABORTED
    {10053,
     "Software caused connection abort.An established connection was aborted by the software in "
     "your host computer, possibly due to a data transmission time-out or protocol error."},
    // WSAECONNRESET
    {10054,
     "Connection reset by peer.An existing connection was forcibly closed by the remote host. "
     "This normally results if the peer application on the remote host is suddenly stopped, the "
     "host is rebooted, the host or remote network interface is disabled, or the remote host uses "
     "a hard close."},
    // WSAENOBUFS
    {10055,
     "No buffer space available.An operation on a socket could not be performed because the "
     "system lacked sufficient buffer space or because a queue was full."},
    // WSAEISCONN
    {10056,
     "Socket is already connected.A connect request was made on an already-connected socket."},
    // WSAENOTCONN
    {10057,
     "Socket is not connected.A request to send or receive data was disallowed because the "
     "socket is not connected and (when sending on a datagram socket using sendto) no address was "
     "supplied."},
    // WSAESHUTDOWN
    {10058,
     "Cannot send after socket shutdown.A request to send or receive data was disallowed because "
     "the socket had already been shut down in that direction with a previous shutdown call."},
    // WSAETOOMANYREFS
    {10059, "Too many references.Too many references to some kernel object."},
    // WSAETIMEDOUT
    {10060,
     "Connection timed out.A connection attempt failed because the connected party did not "
     "properly respond after a period of time, or the established connection failed because the "
     "connected host has failed to respond."},
    // WSAECONNREFUSED
    {10061,
     "Connection refused.No connection could be made because the target computer actively "
     "refused it. This usually results from trying to connect to a service that is inactive on "
     "the foreign host, that is, one with no server application running."},
    // WSAELOOP
    {10062, "Cannot translate name.Cannot translate a name."},
    // WSAENAMETOOLONG
    {10063, "Name too long.A name component or a name was too long."},
    // WSAEHOSTDOWN
    {10064,
     "Host is down.A socket operation failed because the destination host is down. A socket "
     "operation encountered a dead host. Networking activity on the local host has not been "
     "initiated."},
    // WSAEHOSTUNREACH
    {10065,
     "No route to host.A socket operation was attempted to an unreachable host. See "
     "WSAENETUNREACH."},
    // WSAENOTEMPTY
    {10066, "Directory not empty.Cannot remove a directory that is not empty."},
    // WSAEPROCLIM
    {10067,
     "Too many processes.A Windows Sockets implementation may have a limit on the number of "
     "applications that can use it simultaneously. WSAStartup may fail with this error if the "
     "limit has been reached."},
    // WSAEUSERS
    {10068, "User quota exceeded.Ran out of user quota."},
    // WSAEDQUOT
    {10069, "Disk quota exceeded.Ran out of disk quota."},
    // WSAESTALE
    {10070, "Stale file handle reference.The file handle reference is no longer available."},
    // WSAEREMOTE
    {10071, "Item is remote.The item is not available locally."},
    // WSASYSNOTREADY
    {10091,
     "Network subsystem is unavailable.This error is returned by WSAStartup if the Windows "
     "Sockets implementation cannot function at this time because the underlying system it uses "
     "to provide network services is currently unavailable."},
    // WSAVERNOTSUPPORTED
    {10092,
     "Winsock.dll version out of range.The current Windows Sockets implementation does not "
     "support the Windows Sockets version requested by the application. Check that no old "
     "Windows Sockets DLL files are being accessed."},
    // WSANOTINITIALISED
    {10093,
     "Successful WSAStartup not yet performed.Either the application has not called WSAStartup "
     "or WSAStartup failed. The application may be accessing a socket that the current active "
     "task does not own (that is, trying to share a socket between tasks), or WSACleanup has "
     "been called too many times."},
    // WSAEDISCON
    {10101,
     "Graceful shutdown in progress.Returned by WSARecv and WSARecvFrom to indicate that the "
     "remote party has initiated a graceful shutdown sequence."},
    // WSAENOMORE
    {10102,
     "No more results.No more results can be returned by the WSALookupServiceNext function."},
    // WSAECANCELLED
    {10103,
     "Call has been canceled.A call to the WSALookupServiceEnd function was made while this call "
     "was still processing. The call has been canceled."},
    // WSAEINVALIDPROCTABLE
    {10104,
     "Procedure call table is invalid.The service provider procedure call table is invalid. A "
     "service provider returned a bogus procedure table to Ws2_32.dll. This is usually caused by "
     "one or more of the function pointers being NULL."},
    // WSAEINVALIDPROVIDER
    {10105,
     "Service provider is invalid.The requested service provider is invalid. This error is "
     "returned by the WSCGetProviderInfo and WSCGetProviderInfo32 functions if the protocol entry "
     "specified could not be found."},
    // WSAEPROVIDERFAILEDINIT
    {10106,
     "Service provider failed to initialize.The requested service provider could not be loaded "
     "or initialized. This error is returned if either a service provider's DLL could not be "
     "loaded (LoadLibrary failed) or the provider's WSPStartup or NSPStartup function failed."},
    // WSASYSCALLFAILURE
    {10107,
     "System call failure.A system call that should never fail has failed. This is a generic "
     "error code, returned under various conditions."},
    // WSASERVICE_NOT_FOUND
    {10108,
     "Service not found.No such service is known. The service cannot be found in the specified "
     "name space."},
    // WSATYPE_NOT_FOUND
    {10109, "Class type not found.The specified class was not found."},
    // WSA_E_NO_MORE
    {10110,
     "No more results.No more results can be returned by the WSALookupServiceNext function."},
    // WSA_E_CANCELLED
    {10111,
     "Call was canceled.A call to the WSALookupServiceEnd function was made while this call was "
     "still processing. The call has been canceled."},
    // WSAEREFUSED
    {10112, "Database query was refused.A database query failed because it was actively refused."},
    // WSAHOST_NOT_FOUND
    {11001,
     "Host not found.No such host is known. The name is not an official host name or alias, or "
     "it cannot be found in the database(s) being queried."},
    // WSATRY_AGAIN
    {11002,
     "Nonauthoritative host not found.This is usually a temporary error during host name "
     "resolution and means that the local server did not receive a response from an "
     "authoritative server. A retry at some time later may be successful."},
    // WSANO_RECOVERY
    {11003,
     "This is a nonrecoverable error.This indicates that some sort of nonrecoverable error "
     "occurred during a database lookup. This may be because the database files (for example, "
     "BSD-compatible HOSTS, SERVICES, or PROTOCOLS files) could not be found, or a DNS request "
     "was returned by the server with a severe error."},
    // WSANO_DATA
    {11004,
     "Valid name, no data record of requested type.The requested name is valid and was found in "
     "the database, but it does not have the correct associated data being resolved for."},
    // WSA_QOS_RECEIVERS
    {11005, "QoS receivers.At least one QoS reserve has arrived."},
    // WSA_QOS_SENDERS
    {11006, "QoS senders.At least one QoS send path has arrived."},
    // WSA_QOS_NO_SENDERS
    {11007, "No QoS senders.There are no QoS senders."},
    // WSA_QOS_NO_RECEIVERS
    {11008, "QoS no receivers.There are no QoS receivers."},
    // WSA_QOS_REQUEST_CONFIRMED
    {11009, "QoS request confirmed.The QoS reserve request has been confirmed."},
    // WSA_QOS_ADMISSION_FAILURE
    {11010, "QoS admission error.A QoS error occurred due to lack of resources."},
    // WSA_QOS_POLICY_FAILURE
    {11011,
     "QoS policy failure.The QoS request was rejected because the policy system couldn't "
     "allocate the requested resource within the existing policy."},
    // WSA_QOS_BAD_STYLE
    {11012, "QoS bad style.An unknown or conflicting QoS style was encountered."},
    // WSA_QOS_BAD_OBJECT
    {11013,
     "QoS bad object.A problem was encountered with some portion of the filterspec or the "
     "provider-specific buffer in general."},
    // WSA_QOS_TRAFFIC_CTRL_ERROR
    {11014,
     "QoS traffic control error.An error with the underlying traffic control (TC) API as the "
     "generic QoS request was converted for local enforcement by the TC API. This could be due to "
     "an out of memory error or to an internal QoS provider error."},
    // WSA_QOS_GENERIC_ERROR
    {11015, "QoS generic error.A general QoS error."},
    // WSA_QOS_ESERVICETYPE
    {11016,
     "QoS service type error.An invalid or unrecognized service type was found in the QoS "
     "flowspec."},
    // WSA_QOS_EFLOWSPEC
    {11017,
     "QoS flowspec error.An invalid or inconsistent flowspec was found in the QOS structure."},
    // WSA_QOS_EPROVSPECBUF
    {11018, "Invalid QoS provider buffer.An invalid QoS provider-specific buffer."},
    // WSA_QOS_EFILTERSTYLE
    {11019, "Invalid QoS filter style.An invalid QoS filter style was used."},
    // WSA_QOS_EFILTERTYPE
    {11020, "Invalid QoS filter type.An invalid QoS filter type was used."},
    // WSA_QOS_EFILTERCOUNT
    {11021,
     "Incorrect QoS filter count.An incorrect number of QoS FILTERSPECs were specified in the "
     "FLOWDESCRIPTOR."},
    // WSA_QOS_EOBJLENGTH
    {11022,
     "Invalid QoS object length.An object with an invalid ObjectLength field was specified in "
     "the QoS provider-specific buffer."},
    // WSA_QOS_EFLOWCOUNT
    {11023,
     "Incorrect QoS flow count.An incorrect number of flow descriptors was specified in the QoS "
     "structure."},
    // WSA_QOS_EUNKOWNPSOBJ
    {11024,
     "Unrecognized QoS object.An unrecognized object was found in the QoS provider-specific "
     "buffer."},
    // WSA_QOS_EPOLICYOBJ
    {11025,
     "Invalid QoS policy object.An invalid policy object was found in the QoS provider-specific "
     "buffer."},
    // WSA_QOS_EFLOWDESC
    {11026,
     "Invalid QoS flow descriptor.An invalid QoS flow descriptor was found in the flow "
     "descriptor list."},
    // WSA_QOS_EPSFLOWSPEC
    {11027,
     "Invalid QoS provider-specific flowspec.An invalid or inconsistent flowspec was found in "
     "the QoS provider-specific buffer."},
    // WSA_QOS_EPSFILTERSPEC
    {11028,
     "Invalid QoS provider-specific filterspec.An invalid FILTERSPEC was found in the QoS "
     "provider-specific buffer."},
    // WSA_QOS_ESDMODEOBJ
    {11029,
     "Invalid QoS shape discard mode object.An invalid shape discard mode object was found in "
     "the QoS provider-specific buffer."},
    // WSA_QOS_ESHAPERATEOBJ
    {11030,
     "Invalid QoS shaping rate object.An invalid shaping rate object was found in the QoS "
     "provider-specific buffer."},
    // WSA_QOS_RESERVED_PETYPE
    {11031,
     "Reserved policy QoS element type.A reserved policy element was found in the QoS "
     "provider-specific buffer."},
};

struct InstallerText {
    int code;
    // Text for the installer's exit code, and for every selector when
    // `database` is null.
    const char* installer;
    // Text for the same code returned by a database function, or null.
    const char* database;
};

// Windows Installer return codes, sorted by code. 1617 (ERROR_DEVICE_REMOVED)
// is never returned by the installer and has no entry.
constexpr InstallerText kInstallerTexts[] = {
    {6, "The handle is invalid", nullptr},               // ERROR_INVALID_HANDLE
    {13, "The data is invalid", nullptr},                // ERROR_INVALID_DATA
    {87, "One of the parameters was invalid", nullptr},  // ERROR_INVALID_PARAMETER
    {110, "The system cannot open the device or file specified", nullptr},  // ERROR_OPEN_FAILED
    // ERROR_CALL_NOT_IMPLEMENTED
    {120,
     "This function is not available for this platform. It is only available on Windows 2000 and "
     "Windows XP with Window Installer version 2.0",
     nullptr},
    {234, "More data is available", nullptr},                            // ERROR_MORE_DATA
    {259, "No records remain, and a null handle is returned", nullptr},  // ERROR_NO_MORE_ITEMS
    // ERROR_APPHELP_BLOCK
    {1259,
     "This error code only occurs when using Windows Installer version 2.0 and Windows XP or "
     "later. If Windows Installer determines a product may be incompatible with the current "
     "operating system, it displays a dialog box informing the user and asking whether to try to "
     "install anyway. This error code is returned if the user chooses not to try the "
     "installation",
     nullptr},
    // ERROR_INSTALL_SERVICE_FAILURE
    {1601,
     "The Windows Installer service could not be accessed. Contact your support personnel to "
     "verify that the Windows Installer service is properly registered",
     nullptr},
    {1602, "The user cancels installation", nullptr},               // ERROR_INSTALL_USEREXIT
    {1603, "A fatal error occurred during installation", nullptr},  // ERROR_INSTALL_FAILURE
    {1604, "Installation suspended, incomplete", nullptr},          // ERROR_INSTALL_SUSPEND
    // ERROR_UNKNOWN_PRODUCT
    {1605, "This action is only valid for products that are currently installed", nullptr},
    {1606, "The feature identifier is not registered", nullptr},    // ERROR_UNKNOWN_FEATURE
    {1607, "The component identifier is not registered", nullptr},  // ERROR_UNKNOWN_COMPONENT
    {1608, "This is an unknown property", nullptr},                 // ERROR_UNKNOWN_PROPERTY
    // ERROR_INVALID_HANDLE_STATE
    {1609, "The handle is in an invalid state", "The handle was in an invalid state"},
    // ERROR_BAD_CONFIGURATION
    {1610, "The configuration data for this product is corrupt. Contact your support personnel",
     nullptr},
    {1611, "The component qualifier not present", nullptr},  // ERROR_INDEX_ABSENT
    // ERROR_INSTALL_SOURCE_ABSENT
    {1612,
     "The installation source for this product is not available. Verify that the source exists "
     "and that you can access it",
     nullptr},
    // ERROR_INSTALL_PACKAGE_VERSION
    {1613,
     "This installation package cannot be installed by the Windows Installer service. You must "
     "install a Windows service pack that contains a newer version of the Windows Installer "
     "service",
     nullptr},
    {1614, "The product is uninstalled", nullptr},  // ERROR_PRODUCT_UNINSTALLED
    // ERROR_BAD_QUERY_SYNTAX
    {1615, "The SQL query syntax is invalid or unsupported",
     "An invalid SQL query string was passed to the function"},
    {1616, "The record field does not exist", nullptr},  // ERROR_INVALID_FIELD
    // ERROR_INSTALL_ALREADY_RUNNING
    {1618,
     "Another installation is already in progress. Complete that installation before proceeding "
     "with this install.For information about the mutex, see _MSIExecute Mutex",
     nullptr},
    // ERROR_INSTALL_PACKAGE_OPEN_FAILED
    {1619,
     "This installation package could not be opened. Verify that the package exists and is "
     "accessible, or contact the application vendor to verify that this is a valid Windows "
     "Installer package",
     nullptr},
    // ERROR_INSTALL_PACKAGE_INVALID
    {1620,
     "This installation package could not be opened. Contact the application vendor to verify "
     "that this is a valid Windows Installer package",
     nullptr},
    // ERROR_INSTALL_UI_FAILURE
    {1621,
     "There was an error starting the Windows Installer service user interface. Contact your "
     "support personnel",
     nullptr},
    // ERROR_INSTALL_LOG_FAILURE
    {1622,
     "There was an error opening installation log file. Verify that the specified log file "
     "location exists and is writable",
     nullptr},
    // ERROR_INSTALL_LANGUAGE_UNSUPPORTED
    {1623, "This language of this installation package is not supported by your system", nullptr},
    // ERROR_INSTALL_TRANSFORM_FAILURE
    {1624,
     "There was an error applying transforms. Verify that the specified transform paths are "
     "valid",
     nullptr},
    // ERROR_INSTALL_PACKAGE_REJECTED
    {1625, "This installation is forbidden by system policy. Contact your system administrator",
     nullptr},
    {1626, "The function could not be executed", nullptr},  // ERROR_FUNCTION_NOT_CALLED
    // ERROR_FUNCTION_FAILED
    {1627, "The function failed during execution", "An error occurred during fetching"},
    {1628, "An invalid or unknown table was specified", nullptr},  // ERROR_INVALID_TABLE
    {1629, "The data supplied is the wrong type", nullptr},        // ERROR_DATATYPE_MISMATCH
    {1630, "Data of this type is not supported", nullptr},         // ERROR_UNSUPPORTED_TYPE
    // ERROR_CREATE_FAILED
    {1631, "The Windows Installer service failed to start. Contact your support personnel",
     "The database could not be created"},
    // ERROR_INSTALL_TEMP_UNWRITABLE
    {1632,
     "The Temp folder is either full or inaccessible. Verify that the Temp folder exists and "
     "that you can write to it",
     nullptr},
    // ERROR_INSTALL_PLATFORM_UNSUPPORTED
    {1633,
     "This installation package is not supported on this platform. Contact your application "
     "vendor",
     nullptr},
    {1634, "Component is not used on this machine", nullptr},  // ERROR_INSTALL_NOTUSED
    // ERROR_PATCH_PACKAGE_OPEN_FAILED
    {1635,
     "This patch package could not be opened. Verify that the patch package exists and is "
     "accessible, or contact the application vendor to verify that this is a valid Windows "
     "Installer patch package",
     nullptr},
    // ERROR_PATCH_PACKAGE_INVALID
    {1636,
     "This patch package could not be opened. Contact the application vendor to verify that this "
     "is a valid Windows Installer patch package",
     nullptr},
    // ERROR_PATCH_PACKAGE_UNSUPPORTED
    {1637,
     "This patch package cannot be processed by the Windows Installer service. You must install "
     "a Windows service pack that contains a newer version of the Windows Installer service",
     nullptr},
    // ERROR_PRODUCT_VERSION
    {1638,
     "Another version of this product is already installed. Installation of this version cannot "
     "continue. To configure or remove the existing version of this product, use Add/Remove "
     "Programs in Control Panel",
     nullptr},
    // ERROR_INVALID_COMMAND_LINE
    {1639,
     "Invalid command line argument. Consult the Windows Installer SDK for detailed command-line "
     "help",
     nullptr},
    // ERROR_INSTALL_REMOTE_DISALLOWED
    {1640,
     "Installation from a Terminal Server client session is not permitted for the current user",
     nullptr},
    // ERROR_SUCCESS_REBOOT_INITIATED
    {1641, "The installer has initiated a restart. This message is indicative of a success",
     nullptr},
    // ERROR_PATCH_TARGET_NOT_FOUND
    {1642,
     "The installer cannot install the upgrade patch because the program being upgraded may be "
     "missing or the upgrade patch updates a different version of the program. Verify that the "
     "program to be upgraded exists on your computer and that you have the correct upgrade "
     "patch",
     nullptr},
    // ERROR_PATCH_PACKAGE_REJECTED
    {1643, "The patch package is not permitted by system policy", nullptr},
    // ERROR_INSTALL_TRANSFORM_REJECTED
    {1644, "One or more customizations are not permitted by system policy", nullptr},
    // ERROR_INSTALL_REMOTE_PROHIBITED
    {1645, "Windows Installer does not permit installation from a Remote Desktop Connection",
     nullptr},
    // ERROR_PATCH_REMOVAL_UNSUPPORTED
    {1646,
     "The patch package is not a removable patch package. Available beginning with Windows "
     "Installer version 3.0",
     nullptr},
    // ERROR_UNKNOWN_PATCH
    {1647,
     "The patch is not applied to this product. Available beginning with Windows Installer "
     "version 3.0",
     nullptr},
    // ERROR_PATCH_NO_SEQUENCE
    {1648,
     "No valid sequence could be found for the set of patches. Available beginning with Windows "
     "Installer version 3.0",
     nullptr},
    // ERROR_PATCH_REMOVAL_DISALLOWED
    {1649,
     "Patch removal was disallowed by policy. Available beginning with Windows Installer version "
     "3.0",
     nullptr},
    // ERROR_INVALID_PATCH_XML
    {1650, "The XML patch data is invalid. Available beginning with Windows Installer version 3.0",
     nullptr},
    // ERROR_PATCH_MANAGED_ADVERTISED_PRODUCT
    {1651,
     "Administrative user failed to apply patch for a per-user managed or a per-machine "
     "application that is in advertise state. Available beginning with Windows Installer version "
     "3.0",
     nullptr},
    // ERROR_SUCCESS_REBOOT_REQUIRED
    {3010,
     "A restart is required to complete the install. This message is indicative of a success. "
     "This does not include installs where the ForceReboot action is run",
     nullptr},
};

template <typename Entry, std::size_t N>
constexpr bool SortedByCode(const Entry (&table)[N]) {
    for (std::size_t i = 1; i < N; ++i) {
        if (table[i - 1].code >= table[i].code)
            return false;
    }
    return true;
}

static_assert(SortedByCode(kSocketTexts), "the sockets table must be sorted by code");
static_assert(SortedByCode(kInstallerTexts), "the installer table must be sorted by code");
static_assert(std::size(kSocketTexts) == 95, "95 Windows Sockets codes have a text");

template <typename Entry, std::size_t N>
const Entry* Find(const Entry (&table)[N], int code) {
    const Entry* end = table + N;
    const Entry* it = std::lower_bound(
        table, end, code, [](const Entry& entry, int value) { return entry.code < value; });
    return (it != end && it->code == code) ? it : nullptr;
}

const char* SocketErrorText(int code) {
    const SocketText* entry = Find(kSocketTexts, code);
    return entry != nullptr ? entry->text : kUnknownError;
}

const char* InstallerErrorText(int code, int selector) {
    if (code == 0)
        return kEmpty;
    const InstallerText* entry = Find(kInstallerTexts, code);
    if (entry == nullptr)
        return kUnknownError;
    if (entry->database == nullptr)
        return entry->installer;
    switch (selector) {
        case kErrorTableInstallerDatabase:
            return entry->database;
        case kErrorTableInstaller:
            return entry->installer;
        default:
            return kEmpty;
    }
}

}  // namespace

const char* KivErrorText(int code, int selector) {
    if (selector == kErrorTableSockets)
        return SocketErrorText(code);
    return InstallerErrorText(code, selector);
}
