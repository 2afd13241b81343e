#pragma once

#include "platform/DynamicLibrary.h"
#include "platform/Exception.h"
#include "xaudio.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

class TXaudioNotifier;

// Every failure of TXaudioPlayer: the library cannot be loaded or lacks an entry point, its
// API version is not 3.8, or its player cannot be started.
class EXaudioException : public Exception {
public:
    using Exception::Exception;
};

class TXaudioPlayer;

// One event type per notification, named after its event; texts arrive converted (a null
// text as an empty string).
using TNotifyMessageEvent = std::function<void(TXaudioPlayer &Sender, XA_Message &Msg)>;
using TNotifyReadyEvent = std::function<void(QObject *Sender)>;
using TNotifyAckEvent = std::function<void(TXaudioPlayer &Sender, uint8_t Command)>;
using TNotifyNackEvent = std::function<void(TXaudioPlayer &Sender, uint8_t Command, int16_t Code)>;
using TNotifyPongEvent = std::function<void(TXaudioPlayer &Sender, uint32_t Tag)>;
using TNotifyExitedEvent = std::function<void(QObject *Sender)>;
using TNotifyPlayerStateEvent = std::function<void(TXaudioPlayer &Sender, int32_t State)>;
using TNotifyPlayerModeEvent = std::function<void(TXaudioPlayer &Sender, int32_t Mode)>;
using TNotifyPlayerEnvironmentIntegerEvent =
    std::function<void(TXaudioPlayer &Sender, const QString &Name, int32_t Value)>;
using TNotifyPlayerEnvironmentStringEvent =
    std::function<void(TXaudioPlayer &Sender, const QString &Name, const QString &Value)>;
using TNotifyInputStateEvent = std::function<void(TXaudioPlayer &Sender, int32_t State)>;
using TNotifyInputNameEvent = std::function<void(TXaudioPlayer &Sender, const QString &Name)>;
using TNotifyInputCapsEvent = std::function<void(TXaudioPlayer &Sender, uint32_t Caps)>;
using TNotifyInputPositionEvent =
    std::function<void(TXaudioPlayer &Sender, uint32_t Offset, uint32_t Range)>;
using TNotifyInputPositionRangeEvent = std::function<void(TXaudioPlayer &Sender, int32_t Range)>;
using TNotifyInputTimecodeEvent = std::function<void(
    TXaudioPlayer &Sender, uint8_t Hours, uint8_t Minutes, uint8_t Seconds, uint8_t Fractions)>;
using TNotifyInputTimecodeGranularityEvent =
    std::function<void(TXaudioPlayer &Sender, uint32_t Granularity)>;
using TNotifyInputModuleEvent = std::function<void(TXaudioPlayer &Sender, int16_t ID)>;
// Module, device and filter information share one shape each for input, output and codec.
using TNotifyModuleInfoEvent =
    std::function<void(TXaudioPlayer &Sender, uint8_t ID, uint8_t NbDevices, const QString &Name,
                       const QString &Description)>;
using TNotifyDeviceInfoEvent =
    std::function<void(TXaudioPlayer &Sender, uint8_t ModuleID, uint8_t Index, uint8_t Flags,
                       const QString &Name, const QString &Description)>;
using TNotifyFilterInfoEvent =
    std::function<void(TXaudioPlayer &Sender, uint8_t ID, const QString &Name)>;
using TNotifyInputModuleInfoEvent = TNotifyModuleInfoEvent;
using TNotifyInputDeviceInfoEvent = TNotifyDeviceInfoEvent;
using TNotifyInputFilterInfoEvent = TNotifyFilterInfoEvent;
using TNotifyOutputStateEvent = std::function<void(TXaudioPlayer &Sender, int32_t State)>;
using TNotifyOutputNameEvent = std::function<void(TXaudioPlayer &Sender, const QString &Name)>;
using TNotifyOutputCapsEvent = std::function<void(TXaudioPlayer &Sender, uint32_t Caps)>;
using TNotifyOutputVolumeEvent = std::function<void(TXaudioPlayer &Sender, uint8_t MasterLevel,
                                                    uint8_t PcmLevel, uint8_t Balance)>;
using TNotifyOutputBalanceEvent = std::function<void(TXaudioPlayer &Sender, uint8_t Balance)>;
using TNotifyOutputPcmLevelEvent = std::function<void(TXaudioPlayer &Sender, uint8_t PcmLevel)>;
using TNotifyOutputMasterLevelEvent =
    std::function<void(TXaudioPlayer &Sender, uint8_t MasterLevel)>;
using TNotifyOutputChannelsEvent = std::function<void(TXaudioPlayer &Sender, uint8_t Channels)>;
using TNotifyOutputPortsEvent = std::function<void(TXaudioPlayer &Sender, uint32_t Ports)>;
using TNotifyOutputModuleEvent = std::function<void(TXaudioPlayer &Sender, int16_t ID)>;
using TNotifyOutputModuleInfoEvent = TNotifyModuleInfoEvent;
using TNotifyOutputDeviceInfoEvent = TNotifyDeviceInfoEvent;
using TNotifyOutputFilterInfoEvent = TNotifyFilterInfoEvent;
using TNotifyStreamMimeTypeEvent =
    std::function<void(TXaudioPlayer &Sender, const QString &MimeType)>;
using TNotifyStreamDurationEvent = std::function<void(TXaudioPlayer &Sender, uint32_t Duration)>;
using TNotifyStreamParametersEvent = std::function<void(TXaudioPlayer &Sender, uint32_t Frequency,
                                                        int16_t Bitrate, uint8_t NbChannels)>;
using PXA_Property = XA_Property *;
using TNotifyStreamPropertiesEvent =
    std::function<void(TXaudioPlayer &Sender, uint32_t NbProperties, PXA_Property Properties)>;
using TNotifyCodecModuleEvent = std::function<void(TXaudioPlayer &Sender, int16_t ID)>;
using TNotifyCodecModuleInfoEvent = TNotifyModuleInfoEvent;
using TNotifyCodecDeviceInfoEvent = TNotifyDeviceInfoEvent;
using TNotifyCodecQualityEvent = std::function<void(TXaudioPlayer &Sender, uint8_t Quality)>;
using TNotifyCodecEqualizerEvent =
    std::function<void(TXaudioPlayer &Sender, XA_EqualizerInfo &Equalizer)>;
using TNotifyNotificationMaskEvent = std::function<void(TXaudioPlayer &Sender, uint32_t Mask)>;
using TNotifyDebugLevelEvent = std::function<void(TXaudioPlayer &Sender, uint8_t Level)>;
using TNotifyProgressEvent = std::function<void(TXaudioPlayer &Sender, uint8_t Source, uint8_t Code,
                                                int16_t Value, const QString &Msg)>;
using TNotifyDebugEvent =
    std::function<void(TXaudioPlayer &Sender, uint8_t Source, uint8_t Level, const QString &Msg)>;
using TNotifyErrorEvent =
    std::function<void(TXaudioPlayer &Sender, uint8_t Source, int16_t Code, const QString &Msg)>;

// Drives the decoding library: loads it on first need (from XaudioPath), creates one
// library player, sends it one command per method, and turns the notifications that the
// library posts to the component's hidden window into the On... events, on the thread that
// created the component. Any method that may load the library or create the player
// throws EXaudioException on failure and retries the load on its next call.
class TXaudioPlayer : public QObject {
public:
    explicit TXaudioPlayer(QObject *Owner = nullptr);
    ~TXaudioPlayer() override;
    TXaudioPlayer(const TXaudioPlayer &) = delete;
    TXaudioPlayer &operator=(const TXaudioPlayer &) = delete;

    // File name or path of the library; a change takes effect at the next load.
    QString XaudioPath = QStringLiteral("xaudio.dll");

    // Loads the library and creates the player unless that was done; true when the player
    // exists.
    bool Init();
    // xaudio_get_version(Which) once a player exists, else 0; never loads anything.
    int32_t GetVersion(uint8_t Which);
    // The library's text for a status code (empty for none).
    QString ErrorString(int32_t Code);
    // Before the player exists the value is kept for its creation; afterwards both go
    // straight to the library.
    void SetPriority(int32_t Value);
    int32_t GetPriority();

    // Commands. Each makes sure the player exists (Init), then returns the library's status
    // (0 = success). Get... commands make the library report the value as a notification.
    // A text containing a NUL character cannot be passed whole and is refused with
    // XA_ERROR_INVALID_PARAMETERS.
    int32_t Synchronize() { return SendN(XA_MSG_COMMAND_SYNC); }
    int32_t Ping(int32_t Tag) { return SendI(XA_MSG_COMMAND_PING, Tag); }
    int32_t Play() { return SendN(XA_MSG_COMMAND_PLAY); }
    int32_t Pause() { return SendN(XA_MSG_COMMAND_PAUSE); }
    int32_t Stop() { return SendN(XA_MSG_COMMAND_STOP); }
    int32_t InputSeek(int32_t Offset, int32_t Range) {
        return SendII(XA_MSG_COMMAND_INPUT_SEEK, Offset, Range);
    }
    int32_t InputOpen(const QString &Name) { return SendS(XA_MSG_COMMAND_INPUT_OPEN, Name); }
    int32_t InputClose() { return SendN(XA_MSG_COMMAND_INPUT_CLOSE); }
    int32_t InputSendMessage(uint16_t Type, const void *Data, int32_t Size) {
        return SendIPI(XA_MSG_COMMAND_INPUT_SEND_MESSAGE, Type, Data, Size);
    }
    int32_t InputAddFilter(const QString &Name, int32_t Where) {
        return SendSI(XA_MSG_COMMAND_INPUT_ADD_FILTER, Name, Where);
    }
    int32_t InputRemoveFilter(const QString &Name, int32_t Where) {
        return SendSI(XA_MSG_COMMAND_INPUT_REMOVE_FILTER, Name, Where);
    }
    int32_t InputFilterList() { return SendN(XA_MSG_COMMAND_INPUT_FILTERS_LIST); }
    int32_t InputModuleRegister(const QString &Name) {
        return SendS(XA_MSG_COMMAND_INPUT_MODULE_REGISTER, Name);
    }
    int32_t InputModuleQuery(int32_t Module) {
        return SendI(XA_MSG_COMMAND_INPUT_MODULE_QUERY, Module);
    }
    int32_t InputModulesList() { return SendN(XA_MSG_COMMAND_INPUT_MODULES_LIST); }
    // "wav:" followed by a path makes the library write a WAV file there.
    int32_t OutputOpen(const QString &Name) { return SendS(XA_MSG_COMMAND_OUTPUT_OPEN, Name); }
    int32_t OutputClose() { return SendN(XA_MSG_COMMAND_OUTPUT_CLOSE); }
    int32_t OutputSendMessage(uint16_t Type, const void *Data, int32_t Size) {
        return SendIPI(XA_MSG_COMMAND_OUTPUT_SEND_MESSAGE, Type, Data, Size);
    }
    int32_t OutputMute() { return SendN(XA_MSG_COMMAND_OUTPUT_MUTE); }
    int32_t OutputUnmute() { return SendN(XA_MSG_COMMAND_OUTPUT_UNMUTE); }
    int32_t OutputReset() { return SendN(XA_MSG_COMMAND_OUTPUT_RESET); }
    int32_t OutputDrain() { return SendN(XA_MSG_COMMAND_OUTPUT_DRAIN); }
    int32_t OutputAddFilter(const QString &Name, int32_t Where) {
        return SendSI(XA_MSG_COMMAND_OUTPUT_ADD_FILTER, Name, Where);
    }
    int32_t OutputRemoveFilter(const QString &Name, int32_t Where) {
        return SendSI(XA_MSG_COMMAND_OUTPUT_REMOVE_FILTER, Name, Where);
    }
    int32_t OutputFilterList() { return SendN(XA_MSG_COMMAND_OUTPUT_FILTERS_LIST); }
    int32_t OutputModuleRegister(const QString &Name) {
        return SendS(XA_MSG_COMMAND_OUTPUT_MODULE_REGISTER, Name);
    }
    int32_t OutputModuleQuery(int32_t Module) {
        return SendI(XA_MSG_COMMAND_OUTPUT_MODULE_QUERY, Module);
    }
    int32_t OutputModulesList() { return SendN(XA_MSG_COMMAND_OUTPUT_MODULES_LIST); }
    int32_t CodecSendMessage(uint16_t Type, const void *Data, int32_t Size) {
        return SendIPI(XA_MSG_COMMAND_CODEC_SEND_MESSAGE, Type, Data, Size);
    }
    int32_t CodecModuleRegister(const QString &Name) {
        return SendS(XA_MSG_COMMAND_CODEC_MODULE_REGISTER, Name);
    }
    int32_t CodecModuleQuery(int32_t Module) {
        return SendI(XA_MSG_COMMAND_CODEC_MODULE_QUERY, Module);
    }
    int32_t CodecModulesList() { return SendN(XA_MSG_COMMAND_CODEC_MODULES_LIST); }
    int32_t SetPlayerMode(int32_t Mode) { return SendI(XA_MSG_SET_PLAYER_MODE, Mode); }
    int32_t GetPlayerMode() { return SendN(XA_MSG_GET_PLAYER_MODE); }
    int32_t SetPlayerEnvironmentInteger(const QString &Name, int32_t Value) {
        return SendSI(XA_MSG_SET_PLAYER_ENVIRONMENT_INTEGER, Name, Value);
    }
    int32_t GetPlayerEnvironmentInteger(const QString &Name) {
        return SendS(XA_MSG_GET_PLAYER_ENVIRONMENT_INTEGER, Name);
    }
    int32_t SetPlayerEnvironmentString(const QString &Name, const QString &Value) {
        return SendSS(XA_MSG_SET_PLAYER_ENVIRONMENT_STRING, Name, Value);
    }
    int32_t GetPlayerEnvironmentString(const QString &Name) {
        return SendS(XA_MSG_GET_PLAYER_ENVIRONMENT_STRING, Name);
    }
    int32_t UnsetPlayerEnvironment(const QString &Name) {
        return SendS(XA_MSG_UNSET_PLAYER_ENVIRONMENT, Name);
    }
    int32_t SetInputName(const QString &Name) { return SendS(XA_MSG_SET_INPUT_NAME, Name); }
    int32_t GetInputName() { return SendN(XA_MSG_GET_INPUT_NAME); }
    int32_t SetInputModule(int32_t Module) { return SendI(XA_MSG_SET_INPUT_MODULE, Module); }
    int32_t GetInputModule() { return SendN(XA_MSG_GET_INPUT_MODULE); }
    int32_t SetInputPositionRange(int32_t Range) {
        return SendI(XA_MSG_SET_INPUT_POSITION_RANGE, Range);
    }
    int32_t GetInputPositionRange() { return SendN(XA_MSG_GET_INPUT_POSITION_RANGE); }
    int32_t SetInputTimecodeGranularity(int32_t Granularity) {
        return SendI(XA_MSG_SET_INPUT_TIMECODE_GRANULARITY, Granularity);
    }
    int32_t GetInputTimecodeGranularity() { return SendN(XA_MSG_GET_INPUT_TIMECODE_GRANULARITY); }
    int32_t SetOutputName(const QString &Name) { return SendS(XA_MSG_SET_OUTPUT_NAME, Name); }
    int32_t GetOutputName() { return SendN(XA_MSG_GET_OUTPUT_NAME); }
    int32_t SetOutputModule(int32_t Module) { return SendI(XA_MSG_SET_OUTPUT_MODULE, Module); }
    int32_t GetOutputModule() { return SendN(XA_MSG_GET_OUTPUT_MODULE); }
    // Levels 0..100; -1 leaves a value unchanged.
    int32_t SetOutputVolume(int32_t PcmLevel, int32_t Balance, int32_t MasterLevel) {
        return SendIII(XA_MSG_SET_OUTPUT_VOLUME, PcmLevel, Balance, MasterLevel);
    }
    int32_t GetOutputVolume() { return SendN(XA_MSG_GET_OUTPUT_VOLUME); }
    int32_t SetOutputChannels(int32_t Channels) {
        return SendI(XA_MSG_SET_OUTPUT_CHANNELS, Channels);
    }
    int32_t GetOutputChannels() { return SendN(XA_MSG_GET_OUTPUT_CHANNELS); }
    int32_t SetOutputPorts(int32_t Ports) { return SendI(XA_MSG_SET_OUTPUT_PORTS, Ports); }
    int32_t GetOutputPorts() { return SendN(XA_MSG_GET_OUTPUT_PORTS); }
    int32_t SetCodecQuality(uint8_t Quality) { return SendI(XA_MSG_SET_CODEC_QUALITY, Quality); }
    int32_t GetCodecQuality() { return SendN(XA_MSG_GET_CODEC_QUALITY); }
    // Null sets no equalizer.
    int32_t SetCodecEqualizer(const XA_EqualizerInfo *Equalizer) {
        return SendP(XA_MSG_SET_CODEC_EQUALIZER, Equalizer);
    }
    int32_t GetCodecEqualizer() { return SendN(XA_MSG_GET_CODEC_EQUALIZER); }
    int32_t SetNotificationMask(int32_t Mask) { return SendI(XA_MSG_SET_NOTIFICATION_MASK, Mask); }
    int32_t GetNotificationMask() { return SendN(XA_MSG_GET_NOTIFICATION_MASK); }
    int32_t SetDebugLevel(int32_t Level) { return SendI(XA_MSG_SET_DEBUG_LEVEL, Level); }
    int32_t GetDebugLevel() { return SendN(XA_MSG_GET_DEBUG_LEVEL); }

    // The hidden window as the library sees it (what player_new is given).
    const XA_NotifyTarget *WindowHandle() const;

    TNotifyMessageEvent OnNotifyMessage;
    TNotifyReadyEvent OnNotifyReady;
    TNotifyAckEvent OnNotifyAck;
    TNotifyNackEvent OnNotifyNack;
    TNotifyPongEvent OnNotifyPong;
    TNotifyExitedEvent OnNotifyExited;
    TNotifyPlayerStateEvent OnNotifyPlayerState;
    TNotifyPlayerModeEvent OnNotifyPlayerMode;
    TNotifyPlayerEnvironmentIntegerEvent OnNotifyPlayerEnvironmentInteger;
    TNotifyPlayerEnvironmentStringEvent OnNotifyPlayerEnvironmentString;
    TNotifyInputStateEvent OnNotifyInputState;
    TNotifyInputNameEvent OnNotifyInputName;
    TNotifyInputCapsEvent OnNotifyInputCaps;
    TNotifyInputPositionEvent OnNotifyInputPosition;
    TNotifyInputPositionRangeEvent OnNotifyInputPositionRange;
    TNotifyInputTimecodeEvent OnNotifyInputTimecode;
    TNotifyInputTimecodeGranularityEvent OnNotifyInputTimecodeGranularity;
    TNotifyInputModuleEvent OnNotifyInputModule;
    TNotifyInputModuleInfoEvent OnNotifyInputModuleInfo;
    TNotifyInputDeviceInfoEvent OnNotifyInputDeviceInfo;
    TNotifyInputFilterInfoEvent OnNotifyInputFilterInfo;
    TNotifyOutputStateEvent OnNotifyOutputState;
    TNotifyOutputNameEvent OnNotifyOutputName;
    TNotifyOutputCapsEvent OnNotifyOutputCaps;
    TNotifyOutputVolumeEvent OnNotifyOutputVolume;
    TNotifyOutputBalanceEvent OnNotifyOutputBalance;
    TNotifyOutputPcmLevelEvent OnNotifyOutputPcmLevel;
    TNotifyOutputMasterLevelEvent OnNotifyOutputMasterLevel;
    TNotifyOutputChannelsEvent OnNotifyOutputChannels;
    TNotifyOutputPortsEvent OnNotifyOutputPorts;
    TNotifyOutputModuleEvent OnNotifyOutputModule;
    TNotifyOutputModuleInfoEvent OnNotifyOutputModuleInfo;
    TNotifyOutputDeviceInfoEvent OnNotifyOutputDeviceInfo;
    TNotifyOutputFilterInfoEvent OnNotifyOutputFilterInfo;
    TNotifyStreamMimeTypeEvent OnNotifyStreamMimeType;
    TNotifyStreamDurationEvent OnNotifyStreamDuration;
    TNotifyStreamParametersEvent OnNotifyStreamParameters;
    TNotifyStreamPropertiesEvent OnNotifyStreamProperties;
    TNotifyCodecModuleEvent OnNotifyCodecModule;
    TNotifyCodecModuleInfoEvent OnNotifyCodecModuleInfo;
    TNotifyCodecDeviceInfoEvent OnNotifyCodecDeviceInfo;
    TNotifyCodecQualityEvent OnNotifyCodecQuality;
    TNotifyCodecEqualizerEvent OnNotifyCodecEqualizer;
    TNotifyNotificationMaskEvent OnNotifyNotificationMask;
    TNotifyDebugLevelEvent OnNotifyDebugLevel;
    TNotifyProgressEvent OnNotifyProgress;
    TNotifyDebugEvent OnNotifyDebug;
    TNotifyErrorEvent OnNotifyError;

private:
    // The library's entry points, in the order they are resolved.
    struct TEntryPoints {
        decltype(&::player_new) player_new = nullptr;
        decltype(&::player_delete) player_delete = nullptr;
        decltype(&::player_set_priority) player_set_priority = nullptr;
        decltype(&::player_get_priority) player_get_priority = nullptr;
        decltype(&::xaudio_error_string) xaudio_error_string = nullptr;
        decltype(&::xaudio_get_version) xaudio_get_version = nullptr;
        decltype(&::control_message_send_N) control_message_send_N = nullptr;
        decltype(&::control_message_send_P) control_message_send_P = nullptr;
        decltype(&::control_message_send_S) control_message_send_S = nullptr;
        decltype(&::control_message_send_SS) control_message_send_SS = nullptr;
        decltype(&::control_message_send_SI) control_message_send_SI = nullptr;
        decltype(&::control_message_send_IPI) control_message_send_IPI = nullptr;
        decltype(&::control_message_send_I) control_message_send_I = nullptr;
        decltype(&::control_message_send_II) control_message_send_II = nullptr;
        decltype(&::control_message_send_III) control_message_send_III = nullptr;
        decltype(&::control_message_send_IIII) control_message_send_IIII = nullptr;
        decltype(&::control_win32_params_to_message) control_win32_params_to_message = nullptr;
    };

    void Load();
    void Unload();
    template <typename F> void Resolve(F &EntryPoint, const char *Name);

    int32_t SendN(int Code);
    int32_t SendI(int Code, int I);
    int32_t SendII(int Code, int I1, int I2);
    int32_t SendIII(int Code, int I1, int I2, int I3);
    int32_t SendP(int Code, const void *P);
    int32_t SendS(int Code, const QString &S);
    int32_t SendSS(int Code, const QString &S1, const QString &S2);
    int32_t SendSI(int Code, const QString &S, int I);
    int32_t SendIPI(int Code, int I1, const void *P, int I2);

    // The hidden window's message procedure.
    void NotificationHandler(unsigned Message, uintptr_t WParam, intptr_t LParam);
    void Dispatch(XA_Message &Msg);

    XA_Player *FPlayerHandle = nullptr;
    int32_t FPriority = XA_PRIORITY_HIGH;
    std::unique_ptr<TXaudioNotifier> FWindowHandle;
    DynamicLibrary FLibraryHandle;
    TEntryPoints FEntryPoints;
};
