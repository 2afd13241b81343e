#include "xaudio/XaudioPlayer.h"

#include "xaudio/XaudioNotifier.h"

#include <QByteArray>
#include <QCoreApplication>

#include <deque>
#include <string>
#include <system_error>
#include <unordered_map>
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

// Calls a copy, so that a handler may reassign or clear its own event; an event without a
// handler is skipped.
template <typename Event, typename... Args> void Fire(const Event &Handler, Args &&...Arguments) {
    if (!Handler)
        return;
    const Event handler = Handler;
    handler(std::forward<Args>(Arguments)...);
}

// Module, device and filter information have one shape each for input, output and codec.
template <typename Data>
void FireModuleInfo(const TNotifyModuleInfoEvent &Handler, TXaudioPlayer &Sender, const Data &d) {
    Fire(Handler, Sender, d.module_info.id, d.module_info.nb_devices, Text(d.module_info.name),
         Text(d.module_info.description));
}

template <typename Data>
void FireDeviceInfo(const TNotifyDeviceInfoEvent &Handler, TXaudioPlayer &Sender, const Data &d) {
    Fire(Handler, Sender, d.device_info.module_id, d.device_info.index, d.device_info.flags,
         Text(d.device_info.name), Text(d.device_info.description));
}

template <typename Data>
void FireFilterInfo(const TNotifyFilterInfoEvent &Handler, TXaudioPlayer &Sender, const Data &d) {
    Fire(Handler, Sender, d.filter_info.id, Text(d.filter_info.name));
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
    Fire(OnNotifyMessage, *this, msg);
    Dispatch(msg);
}

void TXaudioPlayer::Dispatch(XA_Message &Msg) {
    using TData = decltype(XA_Message::data);
    using THandler = void (*)(TXaudioPlayer &, const TData &);
    // Each notification's fields, handed to its event; 96-99 and anything outside 73-123 are
    // for OnNotifyMessage only.
    static const std::unordered_map<int32_t, THandler> Handlers = {
        {XA_MSG_NOTIFY_READY, [](TXaudioPlayer &P, const TData &) { Fire(P.OnNotifyReady, &P); }},
        {XA_MSG_NOTIFY_ACK,
         [](TXaudioPlayer &P, const TData &d) { Fire(P.OnNotifyAck, P, d.ack.command); }},
        {XA_MSG_NOTIFY_NACK,
         [](TXaudioPlayer &P, const TData &d) {
             Fire(P.OnNotifyNack, P, d.nack.command, d.nack.code);
         }},
        {XA_MSG_NOTIFY_PONG,
         [](TXaudioPlayer &P, const TData &d) { Fire(P.OnNotifyPong, P, d.pong.tag); }},
        {XA_MSG_NOTIFY_EXITED,
         [](TXaudioPlayer &P, const TData &) { Fire(P.OnNotifyExited, &P); }},
        {XA_MSG_NOTIFY_PLAYER_STATE,
         [](TXaudioPlayer &P, const TData &d) {
             Fire(P.OnNotifyPlayerState, P, int32_t{d.state.state});
         }},
        {XA_MSG_NOTIFY_PLAYER_MODE,
         [](TXaudioPlayer &P, const TData &d) { Fire(P.OnNotifyPlayerMode, P, d.mode.mode); }},
        {XA_MSG_NOTIFY_PLAYER_ENVIRONMENT_INTEGER,
         [](TXaudioPlayer &P, const TData &d) {
             Fire(P.OnNotifyPlayerEnvironmentInteger, P, Text(d.environment_integer.name),
                  d.environment_integer.value);
         }},
        {XA_MSG_NOTIFY_PLAYER_ENVIRONMENT_STRING,
         [](TXaudioPlayer &P, const TData &d) {
             Fire(P.OnNotifyPlayerEnvironmentString, P, Text(d.environment_string.name),
                  Text(d.environment_string.value));
         }},
        {XA_MSG_NOTIFY_INPUT_STATE,
         [](TXaudioPlayer &P, const TData &d) {
             Fire(P.OnNotifyInputState, P, int32_t{d.state.state});
         }},
        {XA_MSG_NOTIFY_INPUT_NAME,
         [](TXaudioPlayer &P, const TData &d) { Fire(P.OnNotifyInputName, P, Text(d.name.name)); }},
        {XA_MSG_NOTIFY_INPUT_CAPS,
         [](TXaudioPlayer &P, const TData &d) { Fire(P.OnNotifyInputCaps, P, d.caps.caps); }},
        {XA_MSG_NOTIFY_INPUT_POSITION,
         [](TXaudioPlayer &P, const TData &d) {
             Fire(P.OnNotifyInputPosition, P, d.position.offset, d.position.range);
         }},
        {XA_MSG_NOTIFY_INPUT_POSITION_RANGE,
         [](TXaudioPlayer &P, const TData &d) {
             Fire(P.OnNotifyInputPositionRange, P, d.position_range.range);
         }},
        {XA_MSG_NOTIFY_INPUT_TIMECODE,
         [](TXaudioPlayer &P, const TData &d) {
             Fire(P.OnNotifyInputTimecode, P, d.timecode.h, d.timecode.m, d.timecode.s,
                  d.timecode.f);
         }},
        {XA_MSG_NOTIFY_INPUT_TIMECODE_GRANULARITY,
         [](TXaudioPlayer &P, const TData &d) {
             Fire(P.OnNotifyInputTimecodeGranularity, P, d.timecode_granularity.granularity);
         }},
        {XA_MSG_NOTIFY_INPUT_MODULE,
         [](TXaudioPlayer &P, const TData &d) { Fire(P.OnNotifyInputModule, P, d.module.id); }},
        {XA_MSG_NOTIFY_INPUT_MODULE_INFO,
         [](TXaudioPlayer &P, const TData &d) { FireModuleInfo(P.OnNotifyInputModuleInfo, P, d); }},
        {XA_MSG_NOTIFY_INPUT_DEVICE_INFO,
         [](TXaudioPlayer &P, const TData &d) { FireDeviceInfo(P.OnNotifyInputDeviceInfo, P, d); }},
        {XA_MSG_NOTIFY_INPUT_FILTER_INFO,
         [](TXaudioPlayer &P, const TData &d) { FireFilterInfo(P.OnNotifyInputFilterInfo, P, d); }},
        {XA_MSG_NOTIFY_OUTPUT_STATE,
         [](TXaudioPlayer &P, const TData &d) {
             Fire(P.OnNotifyOutputState, P, int32_t{d.state.state});
         }},
        {XA_MSG_NOTIFY_OUTPUT_NAME,
         [](TXaudioPlayer &P, const TData &d) { Fire(P.OnNotifyOutputName, P, Text(d.name.name)); }},
        {XA_MSG_NOTIFY_OUTPUT_CAPS,
         [](TXaudioPlayer &P, const TData &d) { Fire(P.OnNotifyOutputCaps, P, d.caps.caps); }},
        {XA_MSG_NOTIFY_OUTPUT_VOLUME,
         [](TXaudioPlayer &P, const TData &d) {
             Fire(P.OnNotifyOutputVolume, P, d.volume.master_level, d.volume.pcm_level,
                  d.volume.balance);
         }},
        {XA_MSG_NOTIFY_OUTPUT_BALANCE,
         [](TXaudioPlayer &P, const TData &d) {
             Fire(P.OnNotifyOutputBalance, P, d.volume.balance);
         }},
        {XA_MSG_NOTIFY_OUTPUT_PCM_LEVEL,
         [](TXaudioPlayer &P, const TData &d) {
             Fire(P.OnNotifyOutputPcmLevel, P, d.volume.pcm_level);
         }},
        {XA_MSG_NOTIFY_OUTPUT_MASTER_LEVEL,
         [](TXaudioPlayer &P, const TData &d) {
             Fire(P.OnNotifyOutputMasterLevel, P, d.volume.master_level);
         }},
        {XA_MSG_NOTIFY_OUTPUT_CHANNELS,
         [](TXaudioPlayer &P, const TData &d) {
             Fire(P.OnNotifyOutputChannels, P, d.channels.channels);
         }},
        {XA_MSG_NOTIFY_OUTPUT_PORTS,
         [](TXaudioPlayer &P, const TData &d) {
             Fire(P.OnNotifyOutputPorts, P, uint32_t{d.ports.ports});
         }},
        {XA_MSG_NOTIFY_OUTPUT_MODULE,
         [](TXaudioPlayer &P, const TData &d) { Fire(P.OnNotifyOutputModule, P, d.module.id); }},
        {XA_MSG_NOTIFY_OUTPUT_MODULE_INFO,
         [](TXaudioPlayer &P, const TData &d) {
             FireModuleInfo(P.OnNotifyOutputModuleInfo, P, d);
         }},
        {XA_MSG_NOTIFY_OUTPUT_DEVICE_INFO,
         [](TXaudioPlayer &P, const TData &d) {
             FireDeviceInfo(P.OnNotifyOutputDeviceInfo, P, d);
         }},
        {XA_MSG_NOTIFY_OUTPUT_FILTER_INFO,
         [](TXaudioPlayer &P, const TData &d) {
             FireFilterInfo(P.OnNotifyOutputFilterInfo, P, d);
         }},
        {XA_MSG_NOTIFY_STREAM_MIME_TYPE,
         [](TXaudioPlayer &P, const TData &d) {
             Fire(P.OnNotifyStreamMimeType, P, Text(d.name.name));
         }},
        {XA_MSG_NOTIFY_STREAM_DURATION,
         [](TXaudioPlayer &P, const TData &d) {
             Fire(P.OnNotifyStreamDuration, P, d.duration.duration);
         }},
        {XA_MSG_NOTIFY_STREAM_PARAMETERS,
         [](TXaudioPlayer &P, const TData &d) {
             Fire(P.OnNotifyStreamParameters, P, d.stream_parameters.frequency,
                  d.stream_parameters.bitrate, d.stream_parameters.nb_channels);
         }},
        {XA_MSG_NOTIFY_STREAM_PROPERTIES,
         [](TXaudioPlayer &P, const TData &d) {
             Fire(P.OnNotifyStreamProperties, P, d.stream_properties.nb_properties,
                  d.stream_properties.properties);
         }},
        {XA_MSG_NOTIFY_CODEC_QUALITY,
         [](TXaudioPlayer &P, const TData &d) {
             Fire(P.OnNotifyCodecQuality, P, d.quality.quality);
         }},
        {XA_MSG_NOTIFY_CODEC_EQUALIZER,
         [](TXaudioPlayer &P, const TData &d) {
             // No equalizer is reported as a null record; a flat one (all bands 0) means the
             // same and gives the handler something to refer to.
             XA_EqualizerInfo flat{};
             Fire(P.OnNotifyCodecEqualizer, P,
                  d.equalizer.equalizer != nullptr ? *d.equalizer.equalizer : flat);
         }},
        {XA_MSG_NOTIFY_CODEC_MODULE,
         [](TXaudioPlayer &P, const TData &d) { Fire(P.OnNotifyCodecModule, P, d.module.id); }},
        {XA_MSG_NOTIFY_CODEC_MODULE_INFO,
         [](TXaudioPlayer &P, const TData &d) { FireModuleInfo(P.OnNotifyCodecModuleInfo, P, d); }},
        {XA_MSG_NOTIFY_CODEC_DEVICE_INFO,
         [](TXaudioPlayer &P, const TData &d) { FireDeviceInfo(P.OnNotifyCodecDeviceInfo, P, d); }},
        {XA_MSG_NOTIFY_NOTIFICATION_MASK,
         [](TXaudioPlayer &P, const TData &d) {
             Fire(P.OnNotifyNotificationMask, P, d.notification_mask.mask);
         }},
        {XA_MSG_NOTIFY_DEBUG_LEVEL,
         [](TXaudioPlayer &P, const TData &d) {
             Fire(P.OnNotifyDebugLevel, P, d.debug_level.level);
         }},
        {XA_MSG_NOTIFY_PROGRESS,
         [](TXaudioPlayer &P, const TData &d) {
             Fire(P.OnNotifyProgress, P, d.progress.source, d.progress.code, d.progress.value,
                  Text(d.progress.message));
         }},
        {XA_MSG_NOTIFY_DEBUG,
         [](TXaudioPlayer &P, const TData &d) {
             Fire(P.OnNotifyDebug, P, d.debug.source, d.debug.level, Text(d.debug.message));
         }},
        {XA_MSG_NOTIFY_ERROR,
         [](TXaudioPlayer &P, const TData &d) {
             Fire(P.OnNotifyError, P, d.error.source, d.error.code, Text(d.error.message));
         }},
    };
    const auto found = Handlers.find(Msg.code);
    if (found != Handlers.end())
        found->second(*this, Msg.data);
}
