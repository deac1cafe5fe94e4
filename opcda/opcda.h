// The OPC DA interfaces, records and enumerations come from opcda.idl (the
// header generated from it in the build tree); this adds the identifiers and
// codes the monitor and the simulation server use beside them.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include "opcda_interfaces.h"

inline const IID IID_IOPCGroupStateMgt = {0x39C13A50, 0x011E, 0x11D0, {0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD, 0xB3}};
// The component categories an OPC DA server lists under its class key.
inline const GUID CATID_OPCDAServer10 = {0x63D5F430, 0xCFE4, 0x11D1, {0xB2, 0xC8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}};
inline const GUID CATID_OPCDAServer20 = {0x63D5F432, 0xCFE4, 0x11D1, {0xB2, 0xC8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}};
inline const GUID CATID_OPCDAServer30 = {0xCC603642, 0x66D7, 0x48F1, {0xB6, 0x9A, 0xB6, 0x25, 0xE7, 0x36, 0x52, 0xD7}};

// Result codes.
constexpr HRESULT OPC_E_INVALIDHANDLE = static_cast<HRESULT>(0xC0040001L);
constexpr HRESULT OPC_E_BADTYPE = static_cast<HRESULT>(0xC0040004L);
constexpr HRESULT OPC_E_PUBLIC = static_cast<HRESULT>(0xC0040005L);
constexpr HRESULT OPC_E_BADRIGHTS = static_cast<HRESULT>(0xC0040006L);
constexpr HRESULT OPC_E_UNKNOWNITEMID = static_cast<HRESULT>(0xC0040007L);
constexpr HRESULT OPC_E_INVALIDITEMID = static_cast<HRESULT>(0xC0040008L);
constexpr HRESULT OPC_E_INVALIDFILTER = static_cast<HRESULT>(0xC0040009L);
constexpr HRESULT OPC_E_UNKNOWNPATH = static_cast<HRESULT>(0xC004000AL);
constexpr HRESULT OPC_E_RANGE = static_cast<HRESULT>(0xC004000BL);
constexpr HRESULT OPC_E_DUPLICATENAME = static_cast<HRESULT>(0xC004000CL);
constexpr HRESULT OPC_S_UNSUPPORTEDRATE = static_cast<HRESULT>(0x0004000DL);
constexpr HRESULT OPC_S_CLAMP = static_cast<HRESULT>(0x0004000EL);
constexpr HRESULT OPC_S_INUSE = static_cast<HRESULT>(0x0004000FL);

// Quality word: bits 7-6 quality, 5-2 substatus, 1-0 limit.
constexpr WORD OPC_QUALITY_BAD = 0x00;
constexpr WORD OPC_QUALITY_UNCERTAIN = 0x40;
constexpr WORD OPC_QUALITY_GOOD = 0xC0;
constexpr WORD OPC_QUALITY_CONFIG_ERROR = 0x04;
constexpr WORD OPC_QUALITY_NOT_CONNECTED = 0x08;
constexpr WORD OPC_QUALITY_DEVICE_FAILURE = 0x0C;
constexpr WORD OPC_QUALITY_SENSOR_FAILURE = 0x10;
constexpr WORD OPC_QUALITY_LAST_KNOWN = 0x14;
constexpr WORD OPC_QUALITY_COMM_FAILURE = 0x18;
constexpr WORD OPC_QUALITY_OUT_OF_SERVICE = 0x1C;
constexpr WORD OPC_LIMIT_LOW = 0x01;
constexpr WORD OPC_LIMIT_HIGH = 0x02;
constexpr WORD OPC_LIMIT_CONST = 0x03;

// Access rights.
constexpr DWORD OPC_READABLE = 1;
constexpr DWORD OPC_WRITEABLE = 2;
