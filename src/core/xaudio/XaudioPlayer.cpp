#include "xaudio/XaudioPlayer.h"

#include "xaudio/XaudioNotifier.h"

#include <QByteArray>
#include <QCoreApplication>

#include <deque>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace {

QString Text(const char *Chars) {
    return Chars != nullptr ? QString::fromUtf8(Chars) : QString();
}

// A NUL inside a text would cut it short for the library, and a path would then name
// another file; such texts are refused instead.
bool ToLibraryText(const QString &S, QByteArray &Out) {
    Out = S.toUtf8();
    return !Out.contains('\0');
}

// Calls a copy, so that a handler may reassign or clear its own event.
template <typename Event, typename... Args> void Fire(const Event &Handler, Args &&...Arguments) {
    const Event handler = Handler;
    handler(std::forward<Args>(Arguments)...);
}

// Points a decoded record at copies of what its pointers refer to. The library keeps those
// only until its next decode for the player, and a handler can cause one before the record
// is dispatched (a message box's event loop delivers the next notification).
class TRecordCopies {
public:
    explicit TRecordCopies(XA_Message &Msg) {
        auto &d = Msg.data;
        switch (Msg.code) {
        case XA_MSG_NOTIFY_PLAYER_ENVIRONMENT_INTEGER:
            d.environment_integer.name = Keep(d.environment_integer.name);
            break;
        case XA_MSG_NOTIFY_PLAYER_ENVIRONMENT_STRING:
            d.environment_string.name = Keep(d.environment_string.name);
            d.environment_string.value = Keep(d.environment_string.value);
            break;
        case XA_MSG_NOTIFY_INPUT_NAME:
        case XA_MSG_NOTIFY_OUTPUT_NAME:
        case XA_MSG_NOTIFY_STREAM_MIME_TYPE:
            d.name.name = Keep(d.name.name);
            break;
        case XA_MSG_NOTIFY_INPUT_MODULE_INFO:
        case XA_MSG_NOTIFY_OUTPUT_MODULE_INFO:
        case XA_MSG_NOTIFY_CODEC_MODULE_INFO:
            d.module_info.name = Keep(d.module_info.name);
            d.module_info.description = Keep(d.module_info.description);
            break;
        case XA_MSG_NOTIFY_INPUT_DEVICE_INFO:
        case XA_MSG_NOTIFY_OUTPUT_DEVICE_INFO:
        case XA_MSG_NOTIFY_CODEC_DEVICE_INFO:
            d.device_info.name = Keep(d.device_info.name);
            d.device_info.description = Keep(d.device_info.description);
            break;
        case XA_MSG_NOTIFY_INPUT_FILTER_INFO:
        case XA_MSG_NOTIFY_OUTPUT_FILTER_INFO:
            d.filter_info.name = Keep(d.filter_info.name);
            break;
        case XA_MSG_NOTIFY_STREAM_PROPERTIES:
            if (d.stream_properties.properties != nullptr) {
                FProperties.assign(d.stream_properties.properties,
                                   d.stream_properties.properties +
                                       d.stream_properties.nb_properties);
                for (XA_Property &property : FProperties) {
                    property.name = Keep(property.name);
                    if (property.type == 1)
                        property.value.string = Keep(property.value.string);
                }
                d.stream_properties.properties = FProperties.data();
            }
            break;
        case XA_MSG_NOTIFY_CODEC_EQUALIZER:
            if (d.equalizer.equalizer != nullptr) {
                FEqualizer = *d.equalizer.equalizer;
                d.equalizer.equalizer = &FEqualizer;
            }
            break;
        case XA_MSG_NOTIFY_PROGRESS:
            d.progress.message = Keep(d.progress.message);
            break;
        case XA_MSG_NOTIFY_DEBUG:
            d.debug.message = Keep(d.debug.message);
            break;
        case XA_MSG_NOTIFY_ERROR:
            d.error.message = Keep(d.error.message);
            break;
        default:
            break;
        }
    }
    TRecordCopies(const TRecordCopies &) = delete;
    TRecordCopies &operator=(const TRecordCopies &) = delete;

private:
    const char *Keep(const char *Text) {
        if (Text == nullptr)
            return nullptr;
        return FTexts.emplace_back(Text).c_str();
    }

    std::deque<std::string> FTexts; // a deque: adding a text moves none of the others
    std::vector<XA_Property> FProperties;
    XA_EqualizerInfo FEqualizer{};
};

} // namespace

TXaudioPlayer::TXaudioPlayer(QObject *Owner) : QObject(Owner) {
    // Without an application object nothing would ever deliver the library's posts.
    if (QCoreApplication::instance() == nullptr)
        throw EXaudioException(QStringLiteral("Cannot Create Hidden Window"));
    try {
        FWindowHandle = std::make_unique<TXaudioNotifier>(
            [this](unsigned Message, uintptr_t WParam, intptr_t LParam) {
                NotificationHandler(Message, WParam, LParam);
            });
    } catch (const std::system_error &) {
        // No file descriptor left for its wake-up.
        throw EXaudioException(QStringLiteral("Cannot Create Hidden Window"));
    }
    Unload();
}

TXaudioPlayer::~TXaudioPlayer() {
    // The library posts nothing once player_delete has returned, so the window can go after.
    if (XA_Player *player = std::exchange(FPlayerHandle, nullptr))
        FEntryPoints.player_delete(player);
    Unload();
    FWindowHandle.reset();
}

const XA_NotifyTarget *TXaudioPlayer::WindowHandle() const {
    return FWindowHandle->Target();
}

template <typename F> void TXaudioPlayer::Resolve(F &EntryPoint, const char *Name) {
    void *address = FLibraryHandle.Symbol(Name);
    if (address == nullptr) {
        Unload();
        throw EXaudioException(
            QStringLiteral("Cannot Find Symbol %1 in Xaudio DLL").arg(QString::fromLatin1(Name)));
    }
    EntryPoint = reinterpret_cast<F>(address);
}

void TXaudioPlayer::Load() {
    if (!FLibraryHandle.Load(XaudioPath))
        throw EXaudioException(QStringLiteral("Cannot Load Xaudio DLL (%1)").arg(XaudioPath));
#define XA_RESOLVE(Name) Resolve(FEntryPoints.Name, #Name)
    XA_RESOLVE(player_new);
    XA_RESOLVE(player_delete);
    XA_RESOLVE(player_set_priority);
    XA_RESOLVE(player_get_priority);
    XA_RESOLVE(xaudio_error_string);
    XA_RESOLVE(xaudio_get_version);
    XA_RESOLVE(control_message_send_N);
    XA_RESOLVE(control_message_send_P);
    XA_RESOLVE(control_message_send_S);
    XA_RESOLVE(control_message_send_SS);
    XA_RESOLVE(control_message_send_SI);
    XA_RESOLVE(control_message_send_IPI);
    XA_RESOLVE(control_message_send_I);
    XA_RESOLVE(control_message_send_II);
    XA_RESOLVE(control_message_send_III);
    XA_RESOLVE(control_message_send_IIII);
    XA_RESOLVE(control_win32_params_to_message);
#undef XA_RESOLVE
}

// Entry points resolved before a missing one are cleared too: they would point into a
// released library.
void TXaudioPlayer::Unload() {
    FLibraryHandle.Unload();
    FEntryPoints = TEntryPoints();
}

bool TXaudioPlayer::Init() {
    if (FPlayerHandle != nullptr)
        return true;
    if (!FLibraryHandle.IsLoaded())
        Load();
    if (!FLibraryHandle.IsLoaded())
        return false;

    const unsigned long version = FEntryPoints.xaudio_get_version(XA_VERSION_ID_API);
    const unsigned major = (version >> 16) & 0xFF;
    const unsigned minor = (version >> 8) & 0xFF;
    if (major != XA_API_VERSION_MAJOR || minor != XA_API_VERSION_MINOR) {
        throw EXaudioException(QStringLiteral("Xaudio DLL API Mismatch\rExpected %1.%2, Got %3.%4")
                                   .arg(XA_API_VERSION_MAJOR)
                                   .arg(XA_API_VERSION_MINOR)
                                   .arg(major)
                                   .arg(minor));
    }

    XA_Player *player = nullptr;
    if (FEntryPoints.player_new(&player, FWindowHandle->Target()) != XA_SUCCESS ||
        player == nullptr) {
        // Whatever a failed call left in the handle is no player.
        throw EXaudioException(QStringLiteral("Cannot Start Xaudio Player"));
    }
    FPlayerHandle = player;
    if (FPriority != XA_PRIORITY_HIGH)
        FEntryPoints.player_set_priority(FPlayerHandle, FPriority);
    return true;
}

int32_t TXaudioPlayer::GetVersion(uint8_t Which) {
    if (FPlayerHandle == nullptr)
        return 0;
    return static_cast<int32_t>(FEntryPoints.xaudio_get_version(Which));
}

QString TXaudioPlayer::ErrorString(int32_t Code) {
    if (!Init())
        return QString();
    return Text(FEntryPoints.xaudio_error_string(Code));
}

void TXaudioPlayer::SetPriority(int32_t Value) {
    if (FPlayerHandle != nullptr)
        FEntryPoints.player_set_priority(FPlayerHandle, Value);
    else
        FPriority = Value;
}

int32_t TXaudioPlayer::GetPriority() {
    if (FPlayerHandle != nullptr)
        return FEntryPoints.player_get_priority(FPlayerHandle);
    return FPriority;
}

// The command senders. Init either gives true or throws (a load failure always throws), so
// the XA_FAILURE after it is only a guard.

int32_t TXaudioPlayer::SendN(int Code) {
    if (!Init())
        return XA_FAILURE;
    return FEntryPoints.control_message_send_N(FPlayerHandle, Code);
}

int32_t TXaudioPlayer::SendI(int Code, int I) {
    if (!Init())
        return XA_FAILURE;
    return FEntryPoints.control_message_send_I(FPlayerHandle, Code, I);
}

int32_t TXaudioPlayer::SendII(int Code, int I1, int I2) {
    if (!Init())
        return XA_FAILURE;
    return FEntryPoints.control_message_send_II(FPlayerHandle, Code, I1, I2);
}

int32_t TXaudioPlayer::SendIII(int Code, int I1, int I2, int I3) {
    if (!Init())
        return XA_FAILURE;
    return FEntryPoints.control_message_send_III(FPlayerHandle, Code, I1, I2, I3);
}

int32_t TXaudioPlayer::SendP(int Code, const void *P) {
    if (!Init())
        return XA_FAILURE;
    return FEntryPoints.control_message_send_P(FPlayerHandle, Code, P);
}

int32_t TXaudioPlayer::SendS(int Code, const QString &S) {
    if (!Init())
        return XA_FAILURE;
    QByteArray s;
    if (!ToLibraryText(S, s))
        return XA_ERROR_INVALID_PARAMETERS;
    return FEntryPoints.control_message_send_S(FPlayerHandle, Code, s.constData());
}

int32_t TXaudioPlayer::SendSS(int Code, const QString &S1, const QString &S2) {
    if (!Init())
        return XA_FAILURE;
    QByteArray s1, s2;
    if (!ToLibraryText(S1, s1) || !ToLibraryText(S2, s2))
        return XA_ERROR_INVALID_PARAMETERS;
    return FEntryPoints.control_message_send_SS(FPlayerHandle, Code, s1.constData(),
                                                s2.constData());
}

int32_t TXaudioPlayer::SendSI(int Code, const QString &S, int I) {
    if (!Init())
        return XA_FAILURE;
    QByteArray s;
    if (!ToLibraryText(S, s))
        return XA_ERROR_INVALID_PARAMETERS;
    return FEntryPoints.control_message_send_SI(FPlayerHandle, Code, s.constData(), I);
}

int32_t TXaudioPlayer::SendIPI(int Code, int I1, const void *P, int I2) {
    if (!Init())
        return XA_FAILURE;
    return FEntryPoints.control_message_send_IPI(FPlayerHandle, Code, I1, P, I2);
}

int32_t TXaudioPlayer::Synchronize() {
    return SendN(XA_MSG_COMMAND_SYNC);
}
int32_t TXaudioPlayer::Ping(int32_t Tag) {
    return SendI(XA_MSG_COMMAND_PING, Tag);
}
int32_t TXaudioPlayer::Play() {
    return SendN(XA_MSG_COMMAND_PLAY);
}
int32_t TXaudioPlayer::Pause() {
    return SendN(XA_MSG_COMMAND_PAUSE);
}
int32_t TXaudioPlayer::Stop() {
    return SendN(XA_MSG_COMMAND_STOP);
}
int32_t TXaudioPlayer::InputSeek(int32_t Offset, int32_t Range) {
    return SendII(XA_MSG_COMMAND_INPUT_SEEK, Offset, Range);
}
int32_t TXaudioPlayer::InputOpen(const QString &Name) {
    return SendS(XA_MSG_COMMAND_INPUT_OPEN, Name);
}
int32_t TXaudioPlayer::InputClose() {
    return SendN(XA_MSG_COMMAND_INPUT_CLOSE);
}
int32_t TXaudioPlayer::InputSendMessage(uint16_t Type, const void *Data, int32_t Size) {
    return SendIPI(XA_MSG_COMMAND_INPUT_SEND_MESSAGE, Type, Data, Size);
}
int32_t TXaudioPlayer::InputAddFilter(const QString &Name, int32_t Where) {
    return SendSI(XA_MSG_COMMAND_INPUT_ADD_FILTER, Name, Where);
}
int32_t TXaudioPlayer::InputRemoveFilter(const QString &Name, int32_t Where) {
    return SendSI(XA_MSG_COMMAND_INPUT_REMOVE_FILTER, Name, Where);
}
int32_t TXaudioPlayer::InputFilterList() {
    return SendN(XA_MSG_COMMAND_INPUT_FILTERS_LIST);
}
int32_t TXaudioPlayer::InputModuleRegister(const QString &Name) {
    return SendS(XA_MSG_COMMAND_INPUT_MODULE_REGISTER, Name);
}
int32_t TXaudioPlayer::InputModuleQuery(int32_t Module) {
    return SendI(XA_MSG_COMMAND_INPUT_MODULE_QUERY, Module);
}
int32_t TXaudioPlayer::InputModulesList() {
    return SendN(XA_MSG_COMMAND_INPUT_MODULES_LIST);
}
int32_t TXaudioPlayer::OutputOpen(const QString &Name) {
    return SendS(XA_MSG_COMMAND_OUTPUT_OPEN, Name);
}
int32_t TXaudioPlayer::OutputClose() {
    return SendN(XA_MSG_COMMAND_OUTPUT_CLOSE);
}
int32_t TXaudioPlayer::OutputSendMessage(uint16_t Type, const void *Data, int32_t Size) {
    return SendIPI(XA_MSG_COMMAND_OUTPUT_SEND_MESSAGE, Type, Data, Size);
}
int32_t TXaudioPlayer::OutputMute() {
    return SendN(XA_MSG_COMMAND_OUTPUT_MUTE);
}
int32_t TXaudioPlayer::OutputUnmute() {
    return SendN(XA_MSG_COMMAND_OUTPUT_UNMUTE);
}
int32_t TXaudioPlayer::OutputReset() {
    return SendN(XA_MSG_COMMAND_OUTPUT_RESET);
}
int32_t TXaudioPlayer::OutputDrain() {
    return SendN(XA_MSG_COMMAND_OUTPUT_DRAIN);
}
int32_t TXaudioPlayer::OutputAddFilter(const QString &Name, int32_t Where) {
    return SendSI(XA_MSG_COMMAND_OUTPUT_ADD_FILTER, Name, Where);
}
int32_t TXaudioPlayer::OutputRemoveFilter(const QString &Name, int32_t Where) {
    return SendSI(XA_MSG_COMMAND_OUTPUT_REMOVE_FILTER, Name, Where);
}
int32_t TXaudioPlayer::OutputFilterList() {
    return SendN(XA_MSG_COMMAND_OUTPUT_FILTERS_LIST);
}
int32_t TXaudioPlayer::OutputModuleRegister(const QString &Name) {
    return SendS(XA_MSG_COMMAND_OUTPUT_MODULE_REGISTER, Name);
}
int32_t TXaudioPlayer::OutputModuleQuery(int32_t Module) {
    return SendI(XA_MSG_COMMAND_OUTPUT_MODULE_QUERY, Module);
}
int32_t TXaudioPlayer::OutputModulesList() {
    return SendN(XA_MSG_COMMAND_OUTPUT_MODULES_LIST);
}
int32_t TXaudioPlayer::CodecSendMessage(uint16_t Type, const void *Data, int32_t Size) {
    return SendIPI(XA_MSG_COMMAND_CODEC_SEND_MESSAGE, Type, Data, Size);
}
int32_t TXaudioPlayer::CodecModuleRegister(const QString &Name) {
    return SendS(XA_MSG_COMMAND_CODEC_MODULE_REGISTER, Name);
}
int32_t TXaudioPlayer::CodecModuleQuery(int32_t Module) {
    return SendI(XA_MSG_COMMAND_CODEC_MODULE_QUERY, Module);
}
int32_t TXaudioPlayer::CodecModulesList() {
    return SendN(XA_MSG_COMMAND_CODEC_MODULES_LIST);
}
int32_t TXaudioPlayer::SetPlayerMode(int32_t Mode) {
    return SendI(XA_MSG_SET_PLAYER_MODE, Mode);
}
int32_t TXaudioPlayer::GetPlayerMode() {
    return SendN(XA_MSG_GET_PLAYER_MODE);
}
int32_t TXaudioPlayer::SetPlayerEnvironmentInteger(const QString &Name, int32_t Value) {
    return SendSI(XA_MSG_SET_PLAYER_ENVIRONMENT_INTEGER, Name, Value);
}
int32_t TXaudioPlayer::GetPlayerEnvironmentInteger(const QString &Name) {
    return SendS(XA_MSG_GET_PLAYER_ENVIRONMENT_INTEGER, Name);
}
int32_t TXaudioPlayer::SetPlayerEnvironmentString(const QString &Name, const QString &Value) {
    return SendSS(XA_MSG_SET_PLAYER_ENVIRONMENT_STRING, Name, Value);
}
int32_t TXaudioPlayer::GetPlayerEnvironmentString(const QString &Name) {
    return SendS(XA_MSG_GET_PLAYER_ENVIRONMENT_STRING, Name);
}
int32_t TXaudioPlayer::UnsetPlayerEnvironment(const QString &Name) {
    return SendS(XA_MSG_UNSET_PLAYER_ENVIRONMENT, Name);
}
int32_t TXaudioPlayer::SetInputName(const QString &Name) {
    return SendS(XA_MSG_SET_INPUT_NAME, Name);
}
int32_t TXaudioPlayer::GetInputName() {
    return SendN(XA_MSG_GET_INPUT_NAME);
}
int32_t TXaudioPlayer::SetInputModule(int32_t Module) {
    return SendI(XA_MSG_SET_INPUT_MODULE, Module);
}
int32_t TXaudioPlayer::GetInputModule() {
    return SendN(XA_MSG_GET_INPUT_MODULE);
}
int32_t TXaudioPlayer::SetInputPositionRange(int32_t Range) {
    return SendI(XA_MSG_SET_INPUT_POSITION_RANGE, Range);
}
int32_t TXaudioPlayer::GetInputPositionRange() {
    return SendN(XA_MSG_GET_INPUT_POSITION_RANGE);
}
int32_t TXaudioPlayer::SetInputTimecodeGranularity(int32_t Granularity) {
    return SendI(XA_MSG_SET_INPUT_TIMECODE_GRANULARITY, Granularity);
}
int32_t TXaudioPlayer::GetInputTimecodeGranularity() {
    return SendN(XA_MSG_GET_INPUT_TIMECODE_GRANULARITY);
}
int32_t TXaudioPlayer::SetOutputName(const QString &Name) {
    return SendS(XA_MSG_SET_OUTPUT_NAME, Name);
}
int32_t TXaudioPlayer::GetOutputName() {
    return SendN(XA_MSG_GET_OUTPUT_NAME);
}
int32_t TXaudioPlayer::SetOutputModule(int32_t Module) {
    return SendI(XA_MSG_SET_OUTPUT_MODULE, Module);
}
int32_t TXaudioPlayer::GetOutputModule() {
    return SendN(XA_MSG_GET_OUTPUT_MODULE);
}
int32_t TXaudioPlayer::SetOutputVolume(int32_t PcmLevel, int32_t Balance, int32_t MasterLevel) {
    return SendIII(XA_MSG_SET_OUTPUT_VOLUME, PcmLevel, Balance, MasterLevel);
}
int32_t TXaudioPlayer::GetOutputVolume() {
    return SendN(XA_MSG_GET_OUTPUT_VOLUME);
}
int32_t TXaudioPlayer::SetOutputChannels(int32_t Channels) {
    return SendI(XA_MSG_SET_OUTPUT_CHANNELS, Channels);
}
int32_t TXaudioPlayer::GetOutputChannels() {
    return SendN(XA_MSG_GET_OUTPUT_CHANNELS);
}
int32_t TXaudioPlayer::SetOutputPorts(int32_t Ports) {
    return SendI(XA_MSG_SET_OUTPUT_PORTS, Ports);
}
int32_t TXaudioPlayer::GetOutputPorts() {
    return SendN(XA_MSG_GET_OUTPUT_PORTS);
}
int32_t TXaudioPlayer::SetCodecQuality(uint8_t Quality) {
    return SendI(XA_MSG_SET_CODEC_QUALITY, Quality);
}
int32_t TXaudioPlayer::GetCodecQuality() {
    return SendN(XA_MSG_GET_CODEC_QUALITY);
}
int32_t TXaudioPlayer::SetCodecEqualizer(const XA_EqualizerInfo *Equalizer) {
    return SendP(XA_MSG_SET_CODEC_EQUALIZER, Equalizer);
}
int32_t TXaudioPlayer::GetCodecEqualizer() {
    return SendN(XA_MSG_GET_CODEC_EQUALIZER);
}
int32_t TXaudioPlayer::SetNotificationMask(int32_t Mask) {
    return SendI(XA_MSG_SET_NOTIFICATION_MASK, Mask);
}
int32_t TXaudioPlayer::GetNotificationMask() {
    return SendN(XA_MSG_GET_NOTIFICATION_MASK);
}
int32_t TXaudioPlayer::SetDebugLevel(int32_t Level) {
    return SendI(XA_MSG_SET_DEBUG_LEVEL, Level);
}
int32_t TXaudioPlayer::GetDebugLevel() {
    return SendN(XA_MSG_GET_DEBUG_LEVEL);
}

void TXaudioPlayer::NotificationHandler(unsigned Message, uintptr_t WParam, intptr_t LParam) {
    // Messages below XA_NOTIFY_MESSAGE_BASE would get the platform's default processing,
    // which a notifier has none of; the library still decides whether they are its own.
    if (FPlayerHandle == nullptr)
        return;
    XA_Message msg{};
    if (FEntryPoints.control_win32_params_to_message(FPlayerHandle, &msg, Message, WParam,
                                                     LParam) != XA_SUCCESS)
        return;
    const TRecordCopies copies(msg);
    if (OnNotifyMessage)
        Fire(OnNotifyMessage, *this, msg);
    Dispatch(msg);
}

void TXaudioPlayer::Dispatch(XA_Message &Msg) {
    const auto &d = Msg.data;
    switch (Msg.code) {
    case XA_MSG_NOTIFY_READY:
        if (OnNotifyReady)
            Fire(OnNotifyReady, this);
        break;
    case XA_MSG_NOTIFY_ACK:
        if (OnNotifyAck)
            Fire(OnNotifyAck, *this, d.ack.command);
        break;
    case XA_MSG_NOTIFY_NACK:
        if (OnNotifyNack)
            Fire(OnNotifyNack, *this, d.nack.command, d.nack.code);
        break;
    case XA_MSG_NOTIFY_PONG:
        if (OnNotifyPong)
            Fire(OnNotifyPong, *this, d.pong.tag);
        break;
    case XA_MSG_NOTIFY_EXITED:
        if (OnNotifyExited)
            Fire(OnNotifyExited, this);
        break;
    case XA_MSG_NOTIFY_PLAYER_STATE:
        if (OnNotifyPlayerState)
            Fire(OnNotifyPlayerState, *this, int32_t{d.state.state});
        break;
    case XA_MSG_NOTIFY_PLAYER_MODE:
        if (OnNotifyPlayerMode)
            Fire(OnNotifyPlayerMode, *this, d.mode.mode);
        break;
    case XA_MSG_NOTIFY_PLAYER_ENVIRONMENT_INTEGER:
        if (OnNotifyPlayerEnvironmentInteger)
            Fire(OnNotifyPlayerEnvironmentInteger, *this, Text(d.environment_integer.name),
                 d.environment_integer.value);
        break;
    case XA_MSG_NOTIFY_PLAYER_ENVIRONMENT_STRING:
        if (OnNotifyPlayerEnvironmentString)
            Fire(OnNotifyPlayerEnvironmentString, *this, Text(d.environment_string.name),
                 Text(d.environment_string.value));
        break;
    case XA_MSG_NOTIFY_INPUT_STATE:
        if (OnNotifyInputState)
            Fire(OnNotifyInputState, *this, int32_t{d.state.state});
        break;
    case XA_MSG_NOTIFY_INPUT_NAME:
        if (OnNotifyInputName)
            Fire(OnNotifyInputName, *this, Text(d.name.name));
        break;
    case XA_MSG_NOTIFY_INPUT_CAPS:
        if (OnNotifyInputCaps)
            Fire(OnNotifyInputCaps, *this, d.caps.caps);
        break;
    case XA_MSG_NOTIFY_INPUT_POSITION:
        if (OnNotifyInputPosition)
            Fire(OnNotifyInputPosition, *this, d.position.offset, d.position.range);
        break;
    case XA_MSG_NOTIFY_INPUT_POSITION_RANGE:
        if (OnNotifyInputPositionRange)
            Fire(OnNotifyInputPositionRange, *this, d.position_range.range);
        break;
    case XA_MSG_NOTIFY_INPUT_TIMECODE:
        if (OnNotifyInputTimecode)
            Fire(OnNotifyInputTimecode, *this, d.timecode.h, d.timecode.m, d.timecode.s,
                 d.timecode.f);
        break;
    case XA_MSG_NOTIFY_INPUT_TIMECODE_GRANULARITY:
        if (OnNotifyInputTimecodeGranularity)
            Fire(OnNotifyInputTimecodeGranularity, *this, d.timecode_granularity.granularity);
        break;
    case XA_MSG_NOTIFY_INPUT_MODULE:
        if (OnNotifyInputModule)
            Fire(OnNotifyInputModule, *this, d.module.id);
        break;
    case XA_MSG_NOTIFY_INPUT_MODULE_INFO:
        if (OnNotifyInputModuleInfo)
            Fire(OnNotifyInputModuleInfo, *this, d.module_info.id, d.module_info.nb_devices,
                 Text(d.module_info.name), Text(d.module_info.description));
        break;
    case XA_MSG_NOTIFY_INPUT_DEVICE_INFO:
        if (OnNotifyInputDeviceInfo)
            Fire(OnNotifyInputDeviceInfo, *this, d.device_info.module_id, d.device_info.index,
                 d.device_info.flags, Text(d.device_info.name), Text(d.device_info.description));
        break;
    case XA_MSG_NOTIFY_INPUT_FILTER_INFO:
        if (OnNotifyInputFilterInfo)
            Fire(OnNotifyInputFilterInfo, *this, d.filter_info.id, Text(d.filter_info.name));
        break;
    case XA_MSG_NOTIFY_OUTPUT_STATE:
        if (OnNotifyOutputState)
            Fire(OnNotifyOutputState, *this, int32_t{d.state.state});
        break;
    case XA_MSG_NOTIFY_OUTPUT_NAME:
        if (OnNotifyOutputName)
            Fire(OnNotifyOutputName, *this, Text(d.name.name));
        break;
    case XA_MSG_NOTIFY_OUTPUT_CAPS:
        if (OnNotifyOutputCaps)
            Fire(OnNotifyOutputCaps, *this, d.caps.caps);
        break;
    case XA_MSG_NOTIFY_OUTPUT_VOLUME:
        if (OnNotifyOutputVolume)
            Fire(OnNotifyOutputVolume, *this, d.volume.master_level, d.volume.pcm_level,
                 d.volume.balance);
        break;
    case XA_MSG_NOTIFY_OUTPUT_BALANCE:
        if (OnNotifyOutputBalance)
            Fire(OnNotifyOutputBalance, *this, d.volume.balance);
        break;
    case XA_MSG_NOTIFY_OUTPUT_PCM_LEVEL:
        if (OnNotifyOutputPcmLevel)
            Fire(OnNotifyOutputPcmLevel, *this, d.volume.pcm_level);
        break;
    case XA_MSG_NOTIFY_OUTPUT_MASTER_LEVEL:
        if (OnNotifyOutputMasterLevel)
            Fire(OnNotifyOutputMasterLevel, *this, d.volume.master_level);
        break;
    case XA_MSG_NOTIFY_OUTPUT_CHANNELS:
        if (OnNotifyOutputChannels)
            Fire(OnNotifyOutputChannels, *this, d.channels.channels);
        break;
    case XA_MSG_NOTIFY_OUTPUT_PORTS:
        if (OnNotifyOutputPorts)
            Fire(OnNotifyOutputPorts, *this, uint32_t{d.ports.ports});
        break;
    case XA_MSG_NOTIFY_OUTPUT_MODULE:
        if (OnNotifyOutputModule)
            Fire(OnNotifyOutputModule, *this, d.module.id);
        break;
    case XA_MSG_NOTIFY_OUTPUT_MODULE_INFO:
        if (OnNotifyOutputModuleInfo)
            Fire(OnNotifyOutputModuleInfo, *this, d.module_info.id, d.module_info.nb_devices,
                 Text(d.module_info.name), Text(d.module_info.description));
        break;
    case XA_MSG_NOTIFY_OUTPUT_DEVICE_INFO:
        if (OnNotifyOutputDeviceInfo)
            Fire(OnNotifyOutputDeviceInfo, *this, d.device_info.module_id, d.device_info.index,
                 d.device_info.flags, Text(d.device_info.name), Text(d.device_info.description));
        break;
    case XA_MSG_NOTIFY_OUTPUT_FILTER_INFO:
        if (OnNotifyOutputFilterInfo)
            Fire(OnNotifyOutputFilterInfo, *this, d.filter_info.id, Text(d.filter_info.name));
        break;
    case XA_MSG_NOTIFY_STREAM_MIME_TYPE:
        if (OnNotifyStreamMimeType)
            Fire(OnNotifyStreamMimeType, *this, Text(d.name.name));
        break;
    case XA_MSG_NOTIFY_STREAM_DURATION:
        if (OnNotifyStreamDuration)
            Fire(OnNotifyStreamDuration, *this, d.duration.duration);
        break;
    case XA_MSG_NOTIFY_STREAM_PARAMETERS:
        if (OnNotifyStreamParameters)
            Fire(OnNotifyStreamParameters, *this, d.stream_parameters.frequency,
                 d.stream_parameters.bitrate, d.stream_parameters.nb_channels);
        break;
    case XA_MSG_NOTIFY_STREAM_PROPERTIES:
        if (OnNotifyStreamProperties)
            Fire(OnNotifyStreamProperties, *this, d.stream_properties.nb_properties,
                 d.stream_properties.properties);
        break;
    case XA_MSG_NOTIFY_CODEC_QUALITY:
        if (OnNotifyCodecQuality)
            Fire(OnNotifyCodecQuality, *this, d.quality.quality);
        break;
    case XA_MSG_NOTIFY_CODEC_EQUALIZER:
        if (OnNotifyCodecEqualizer) {
            // No equalizer is reported as a null record; a flat one (all bands 0) means the
            // same and gives the handler something to refer to.
            XA_EqualizerInfo flat{};
            Fire(OnNotifyCodecEqualizer, *this,
                 d.equalizer.equalizer != nullptr ? *d.equalizer.equalizer : flat);
        }
        break;
    case XA_MSG_NOTIFY_CODEC_MODULE:
        if (OnNotifyCodecModule)
            Fire(OnNotifyCodecModule, *this, d.module.id);
        break;
    case XA_MSG_NOTIFY_CODEC_MODULE_INFO:
        if (OnNotifyCodecModuleInfo)
            Fire(OnNotifyCodecModuleInfo, *this, d.module_info.id, d.module_info.nb_devices,
                 Text(d.module_info.name), Text(d.module_info.description));
        break;
    case XA_MSG_NOTIFY_CODEC_DEVICE_INFO:
        if (OnNotifyCodecDeviceInfo)
            Fire(OnNotifyCodecDeviceInfo, *this, d.device_info.module_id, d.device_info.index,
                 d.device_info.flags, Text(d.device_info.name), Text(d.device_info.description));
        break;
    case XA_MSG_NOTIFY_NOTIFICATION_MASK:
        if (OnNotifyNotificationMask)
            Fire(OnNotifyNotificationMask, *this, d.notification_mask.mask);
        break;
    case XA_MSG_NOTIFY_DEBUG_LEVEL:
        if (OnNotifyDebugLevel)
            Fire(OnNotifyDebugLevel, *this, d.debug_level.level);
        break;
    case XA_MSG_NOTIFY_PROGRESS:
        if (OnNotifyProgress)
            Fire(OnNotifyProgress, *this, d.progress.source, d.progress.code, d.progress.value,
                 Text(d.progress.message));
        break;
    case XA_MSG_NOTIFY_DEBUG:
        if (OnNotifyDebug)
            Fire(OnNotifyDebug, *this, d.debug.source, d.debug.level, Text(d.debug.message));
        break;
    case XA_MSG_NOTIFY_ERROR:
        if (OnNotifyError)
            Fire(OnNotifyError, *this, d.error.source, d.error.code, Text(d.error.message));
        break;
    default:
        // 96-99 and anything outside 73-123 are for OnNotifyMessage only.
        break;
    }
}
