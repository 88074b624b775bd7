#include "spy/form_statistics.h"

namespace {

using namespace platform::ui;

constexpr ControlTemplate kControls[] = {
    {ControlKind::groupBox, FormStatistics::kGroupId, u"Statistics", 7, 7, 246, 150},
    {ControlKind::listView, FormStatistics::kListId, u"", 14, 19, 232, 131,
     style::singleSelection | style::showSelectionAlways | style::noColumnHeader | style::noSortHeader |
         style::border | style::tabStop},
    {ControlKind::staticText, FormStatistics::kDescriptionId, u"Description", 7, 162, 246, 26},
};

constexpr ResizeRule kRules[] = {
    {FormStatistics::kListId, resize::growWidth | resize::growHeight},
    {FormStatistics::kGroupId, resize::growWidth | resize::growHeight},
    {FormStatistics::kDescriptionId, resize::growWidth | resize::moveDown},
};

constexpr int kLabelColumn = 0;
constexpr int kValueColumn = 1;

}  // namespace

const DialogTemplate FormStatistics::kTemplate{206, u"", 260, 195, kControls};
const std::span<const ResizeRule> FormStatistics::kResizeRules{kRules};

// --- The page ------------------------------------------------------------------

LResult FormStatistics::onInitForm(uint32_t, WParam, LParam, bool&) {
  list_ = controlAs<ListView>(kListId);
  description_ = controlAs<StaticText>(kDescriptionId);
  list_->addExtendedStyle(listStyle::gridLines | listStyle::fullRowSelect);
  list_->insertColumn(kLabelColumn, u"", Align::left, 0);
  list_->insertColumn(kValueColumn, u"", Align::right, 0);
  for (size_t row = 0; row < items_.size(); ++row) {
    const ListItem* item = items_.at(row);
    list_->insertItem(static_cast<int>(row), item->label(), reinterpret_cast<LParam>(item));
  }
  description_->setText(ListItem::kSelectCounterText);
  onFormSize();
  return 0;
}

void FormStatistics::onFormSize() {
  if (list_ == nullptr) return;
  const int width = list_->clientWidth();
  if (width == 0) return;
  list_->setColumnWidth(kLabelColumn, 3 * width / 5);
  list_->setColumnWidth(kValueColumn, 2 * width / 5);
}

// The rows read the frame's copy themselves; the record is not needed.
void FormStatistics::updateStatistics(const ORVANE_STATISTICS&) {
  if (list_ == nullptr) return;
  for (size_t row = 0; row < items_.size(); ++row) {
    list_->setItemText(static_cast<int>(row), kValueColumn, items_.at(row)->getText());
  }
}

void FormStatistics::updateDescription() {
  const int selected = list_->selectedItem();
  const ListItem* item = selected >= 0 ? items_.at(static_cast<size_t>(selected)) : nullptr;
  description_->setText(item != nullptr ? std::u16string_view(item->description())
                                        : std::u16string_view(ListItem::kSelectCounterText));
}

LResult FormStatistics::customDraw(CustomDraw& draw) {
  switch (draw.drawStage) {
    case CDDS_PREPAINT:
      return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT:
      return CDRF_NOTIFYSUBITEMDRAW;
    case CDDS_ITEMPREPAINT | CDDS_SUBITEM: {
      const ListItem* item = draw.item >= 0 ? items_.at(static_cast<size_t>(draw.item)) : nullptr;
      draw.textColour =
          item != nullptr && draw.subItem == kValueColumn ? item->getColour() : ListItem::kNormalColour;
      return CDRF_NEWFONT;
    }
    default:
      return CDRF_DODEFAULT;
  }
}

bool FormStatistics::processMessage(uint32_t message, WParam wParam, LParam lParam, LResult& result) {
  if (message == WM_NOTIFY && list_ != nullptr) {
    auto* header = reinterpret_cast<NotifyHeader*>(lParam);
    if (header->idFrom == static_cast<uint32_t>(kListId)) {
      if (header->code == LVN_ITEMCHANGED) {
        updateDescription();
        result = 0;
        return true;
      }
      if (header->code == NM_CUSTOMDRAW) {
        result = customDraw(*reinterpret_cast<CustomDraw*>(lParam));
        return true;
      }
    }
  }
  if (message == WM_DESTROY && list_ != nullptr) {
    // The rows of the control point at this page's items: they go first.
    list_->deleteAllItems();
    list_ = nullptr;
    description_ = nullptr;
  }
  return FormBaseImpl::processMessage(message, wParam, lParam, result);
}

// --- Row builders --------------------------------------------------------------

void FormStatistics::addSeparator() {
  items_.add<ListItemEmpty>(u"", u"", ListItem::kSeparator, ListItem::kSelectCounterText);
}

void FormStatistics::addIntOrNa(std::u16string_view label, const int32_t& value, std::u16string_view format) {
  items_.add<ListItemIntT<int32_t, true>>(label, &value, format, ListItem::kPlain);
}

void FormStatistics::addBool(std::u16string_view label, const uint32_t& value) {
  items_.add<ListItemBoolT<uint32_t>>(label, &value, u"%s", ListItem::kPlain);
}

// --- The kinds -------------------------------------------------------------------

FormStatisticsDevice::FormStatisticsDevice(const ORVANE_STAT_DEVICE* entry) : FormStatistics(entry) {
  addSeparator();
  addInt(u" USB Vendor ID", entry->vendorId, u"0x%04X");
  addInt(u" USB Product ID", entry->productId, u"0x%04X");
  addInt(u" USB Revision ID", entry->revisionId, u"0x%04X");
  addInt(u" Board ID", entry->boardId, u"0x%08X");
  addInt(u" Firmware Type", entry->firmwareType, u"%u");
  items_.add<ListItemVersionStrT<uint8_t>>(u" Firmware Version", &entry->firmwareVersion[0],
                                           &entry->firmwareVersion[1], &entry->firmwareVersion[2], u"%u.%u.%u",
                                           ListItem::kPlain);
  addInt(u" Firmware Protocol Version", entry->firmwareProtocolVersion, u"%u");
  addInt(u" FPGA Design and Version ID", entry->fpgaDesignVersion, u"0x%02X");
  addInt(u" FPGA Customer ID", entry->fpgaCustomerId, u"0x%02X");
  addBool(u" Connected to High-speed Port", entry->highSpeedPort);
  addSeparator();
  addInt(u" Midi IN Bytes Discarded", entry->midiInputBytesDiscarded, u"%u", ListItem::kError);
}

FormStatisticsIsoStream::FormStatisticsIsoStream(const ORVANE_STAT_ISO_STREAM* entry) : FormStatistics(entry) {
  addSeparator();
  addInt(u" DataPackets", entry->dataPackets, u"%u");
  addInt(u" EmptyPackets", entry->emptyPackets, u"%u");
  addInt(u" BuffersTransferred", entry->buffersTransferred, u"%u");
  addInt(u" BuffersPending", entry->buffersPending, u"%d");
  addSeparator();
  addInt(u" Sampling Frequency", entry->samplingFrequency, u"%u Hz");
  addInt(u" BuffersTotal", entry->buffersTotal, u"%u");
  addInt(u" FramesPerBuffer", entry->framesPerBuffer, u"%u");
  addInt(u" DataBlockSize (dwords)", entry->dataBlockSizeWords, u"%u");
  addInt(u" MaxIsoPacketSize (bytes)", entry->maxIsoPacketSize, u"%u");
  addSeparator();
  addInt(u" IsoRequestFailed", entry->isoRequestsFailed, u"%u", ListItem::kError);
  addInt(u" LastIrpStatus", entry->lastIrpStatus, u"0x%08X", ListItem::kError);
  addInt(u" LastUrbStatus", entry->lastUrbStatus, u"0x%08X", ListItem::kError);
  addInt(u" LastUrbPacketStatus", entry->lastUrbPacketStatus, u"0x%08X", ListItem::kError);
  addSeparator();
  addIntOrNa(u" MinDataBlocksPerPacket", entry->minDataBlocksPerPacket, u"%d");
  addIntOrNa(u" MaxDataBlocksPerPacket", entry->maxDataBlocksPerPacket, u"%d");
  addIntOrNa(u" MinPacketSize (bytes)", entry->minPacketSize, u"%d");
  addIntOrNa(u" MaxPacketSize (bytes)", entry->maxPacketSize, u"%d");
  addSeparator();
  addIntOrNa(u" MinCallbackInterval", entry->minCallbackInterval, u"%d us");
  addIntOrNa(u" MaxCallbackInterval", entry->maxCallbackInterval, u"%d us");
  addIntOrNa(u" CurrentCallbackInterval", entry->currentCallbackInterval, u"%d us");
  addSeparator();
  addIntOrNa(u" MinRunTime", entry->minRunTime, u"%d us");
  addIntOrNa(u" MaxRunTime", entry->maxRunTime, u"%d us");
}

FormStatisticsIsoStreamIn::FormStatisticsIsoStreamIn(const ORVANE_STAT_ISO_STREAM_IN* entry)
    : FormStatisticsIsoStream(&entry->stream) {
  addSeparator();
  addInt(u" ReceiverState", entry->receiverState, u"%u");
  addSeparator();
  addInt(u" PacketsMissing", entry->packetsMissing, u"%u", ListItem::kError);
  addInt(u" DataBlockSequenceError", entry->dataBlockSequenceErrors, u"%u", ListItem::kError);
  addInt(u" PacketHeaderInvalid", entry->invalidPacketHeaders, u"%u", ListItem::kError);
  addInt(u" HwOutFifoOverrun", entry->hwOutputFifoOverruns, u"%u", ListItem::kError);
  addInt(u" HwOutFifoUnderrun", entry->hwOutputFifoUnderruns, u"%u", ListItem::kError);
  addInt(u" HwOutFifoEmpty", entry->hwOutputFifoEmpty, u"%u", ListItem::kError);
  addInt(u" HwInSpdifOverrun", entry->hwSpdifInputOverruns, u"%u", ListItem::kError);
  addInt(u" HwInFifoFull", entry->hwInputFifoFull, u"%u", ListItem::kError);
}

FormStatisticsIsoStreamOut::FormStatisticsIsoStreamOut(const ORVANE_STAT_ISO_STREAM* entry)
    : FormStatisticsIsoStream(entry) {}

FormStatisticsHwPort::FormStatisticsHwPort(const ORVANE_STAT_HW_PORT* entry) : FormStatistics(entry) {
  addSeparator();
  addInt(u" Channel Count", entry->channelCount, u"%u");
  addInt(u" Port Type", entry->portType, u"%u");
  addInt(u" Port Number", entry->portNumber, u"%u");
}

FormStatisticsPortChannel::FormStatisticsPortChannel(const ORVANE_STAT_PORT_CHANNEL* entry) : FormStatistics(entry) {
  addSeparator();
  addInt(u" Data Block Offset", entry->dataBlockOffset, u"%u");
  addInt(u" Channel Position", entry->channelPosition, u"%u");
  addInt(u" ASIO Channel connected", entry->asioChannelConnected, u"%u");
  addInt(u" Sound Device connected", entry->soundDeviceConnected, u"%u");
}

// The entry pointer is the entry's own start; every row is a field of it.
FormStatisticsSpdifDeframer::FormStatisticsSpdifDeframer(const ORVANE_STAT_SPDIF_DEFRAMER* entry)
    : FormStatistics(entry) {
  addSeparator();
  addInt(u" Current State", entry->state, u"%u", ListItem::kPlain,
         u"SPDIF deframer state: 0=TrySync, 1=InSync, 2=NonPCM, 3=PCMLocked");
  addSeparator();
  addInt(u" Number of Input Samples", entry->inputSamples, u"%u");
  addInt(u" SPDIF Blocks parsed", entry->blocksParsed, u"%u");
  addInt(u" unexpected start frames", entry->unexpectedStartFrames, u"%u");
  addInt(u" Sync lost", entry->syncLost, u"%u", ListItem::kError);
  addInt(u" input FIFO full", entry->inputFifoFull, u"%u", ListItem::kError);
  addInt(u" invalid Preamble", entry->invalidPreambles, u"%u", ListItem::kError);
  addInt(u" parity Error", entry->parityErrors, u"%u", ListItem::kError);
  addInt(u" frame number mismatch", entry->frameNumberMismatches, u"%u", ListItem::kError);
  addSeparator();
  addInt(u" ProcessData calls", entry->processingCalls, u"%u");
  addSeparator();
  addInt(u" Detected Sample Rate", entry->detectedSampleRate, u"%u");
  addInt(u" Sample Rate change detected", entry->sampleRateChanges, u"%u");
  addSeparator();
  addPercentage(u" fill level of Output FIFO", entry->fifoFillPercent, u"%s%u.%02u%%");
  addPercentage(u" fill level of Output FIFO Minimum", entry->fifoFillPercentMin, u"%s%u.%02u%%");
  addPercentage(u" fill level of Output FIFO Maximum", entry->fifoFillPercentMax, u"%s%u.%02u%%");
  addInt(u" Size of Output FIFO in Samples", entry->fifoSizeSamples, u"%u");
  addInt(u" fill level of Output FIFO in Samples", entry->fifoFillSamples, u"%u");
  addInt(u" fill level of Output FIFO in Samples Minimum", entry->fifoFillSamplesMin, u"%u");
  addInt(u" fill level of Output FIFO in Samples Maximum", entry->fifoFillSamplesMax, u"%u");
  addPercentage(u" Current Clock Offset of the SRC (ppm)", entry->clockOffsetPpm, u"%s%d.%02d ppm");
  addInt(u" Current Clock Offset of the SRC, (2^-30) units", entry->clockOffset, u"%d");
  addInt(u" Output FIFO empty", entry->outputFifoEmpty, u"%u", ListItem::kError);
  addInt(u" Output FIFO full", entry->outputFifoFull, u"%u", ListItem::kError);
}

FormStatisticsAsioChannel::FormStatisticsAsioChannel(const ORVANE_STAT_ASIO_CHANNEL* entry) : FormStatistics(entry) {
  addSeparator();
  addInt(u" is Connected", entry->connected, u"%u");
  addText(u" ASIO Channel Name", entry->name);
}

FormStatisticsSoundDevice::FormStatisticsSoundDevice(const ORVANE_STAT_SOUND_DEVICE* entry) : FormStatistics(entry) {
  addSeparator();
  addInt(u" is Connected", entry->connected, u"%u");
  addText(u" Sound Device Name", entry->name);
  addInt(u" Buffers Processed", entry->buffersProcessed, u"%u");
  addInt(u" No Buffer", entry->noBufferAvailable, u"%u", ListItem::kError);
}

FormStatisticsMidiPortIn::FormStatisticsMidiPortIn(const ORVANE_STAT_MIDI_PORT* entry) : FormStatistics(entry) {
  addSeparator();
  addInt(u" Index", entry->index, u"%u");
  addInt(u" Usage Count", entry->usageCount, u"%u");
  addInt(u" Number of received Midi bytes", entry->midiBytes, u"%u");
}

FormStatisticsMidiPortOut::FormStatisticsMidiPortOut(const ORVANE_STAT_MIDI_PORT* entry) : FormStatistics(entry) {
  addSeparator();
  addInt(u" Index", entry->index, u"%u");
  addInt(u" Usage Count", entry->usageCount, u"%u");
  addInt(u" Number of processed Midi bytes", entry->midiBytes, u"%u");
}

FormStatisticsMidiClientIn::FormStatisticsMidiClientIn(const ORVANE_STAT_MIDI_CLIENT_IN* entry)
    : FormStatistics(entry) {
  addSeparator();
  addInt(u" KS Buffer processed", entry->ksBuffersProcessed, u"%u");
  addInt(u" No buffer from KS", entry->ksNoBuffer, u"%u");
  addSeparator();
  addInt(u" Midi messages parsed", entry->midiMessagesParsed, u"%u");
  addInt(u" Midi bytes parsed", entry->midiBytesParsed, u"%u");
  addInt(u" SysEx bytes", entry->sysExBytes, u"%u");
  addSeparator();
  addInt(u" Note Off", entry->noteOffMessages, u"%u");
  addInt(u" Note On", entry->noteOnMessages, u"%u");
  addInt(u" Polyphon Pressure", entry->polyPressureMessages, u"%u");
  addInt(u" Control Change", entry->controlChangeMessages, u"%u");
  addInt(u" Program Change", entry->programChangeMessages, u"%u");
  addInt(u" Channel Pressure", entry->channelPressureMessages, u"%u");
  addInt(u" Pitch Bend", entry->pitchBendMessages, u"%u");
  addSeparator();
  addInt(u" System Exclusive Start", entry->sysExStartMessages, u"%u");
  addInt(u" MIDI Time Code", entry->midiTimeCodeMessages, u"%u");
  addInt(u" Song Position Pointer", entry->songPositionMessages, u"%u");
  addInt(u" Song Select", entry->songSelectMessages, u"%u");
  addInt(u" Tune Request", entry->tuneRequestMessages, u"%u");
  addInt(u" System Exclusive End", entry->sysExEndMessages, u"%u");
  addInt(u" Timing Clock", entry->timingClockMessages, u"%u");
  addInt(u" Start", entry->startMessages, u"%u");
  addInt(u" Continue", entry->continueMessages, u"%u");
  addInt(u" Stop", entry->stopMessages, u"%u");
  addInt(u" Active Sensing", entry->activeSensingMessages, u"%u");
  addInt(u" System Reset", entry->systemResetMessages, u"%u");
  addSeparator();
  addInt(u" Invalid Midi Bytes", entry->invalidMidiBytes, u"%u", ListItem::kError);
  addInt(u" Input Buffer Overrun", entry->inputBufferOverruns, u"%u", ListItem::kError);
}

FormStatisticsMidiClientOut::FormStatisticsMidiClientOut(const ORVANE_STAT_MIDI_CLIENT_OUT* entry)
    : FormStatistics(entry) {
  addSeparator();
  addInt(u" KS Buffer processed", entry->ksBuffersProcessed, u"%u");
  addInt(u" No buffer from KS", entry->ksNoBuffer, u"%u");
}

FormStatisticsAsioHost::FormStatisticsAsioHost(const ORVANE_STAT_ASIO_HOST* entry) : FormStatistics(entry) {
  addSeparator();
  addInt(u" InChannelsAcquired", entry->inputChannelsAcquired, u"%u");
  addInt(u" OutChannelsAcquired", entry->outputChannelsAcquired, u"%u");
  addBool(u" ChannelsEnabled", entry->channelsEnabled);
  addInt(u" BufferSwitch Events", entry->bufferSwitchEvents, u"%u");
  addInt(u" CurrentSwitchInterval in samples", entry->switchIntervalSamples, u"%u samples");
  addInt(u" CurrentSwitchInterval in microseconds", entry->switchIntervalMicroseconds, u"%u us");
  addInt(u" WorkerThreadPriority", entry->workerThreadPriority, u"%d");
  addSeparator();
  addInt(u" ThreadMissedEvents", entry->threadMissedEvents, u"%u", ListItem::kError);
  addInt(u" EventsMissed", entry->eventsMissed, u"%u", ListItem::kError);
  addSeparator();
  addIntOrNa(u" MinimumSwitchInterval in microseconds", entry->minSwitchIntervalMicroseconds, u"%d us");
  addIntOrNa(u" MaximumSwitchInterval in microseconds", entry->maxSwitchIntervalMicroseconds, u"%d us");
  addIntOrNa(u" CurrentSwitchInterval in microseconds", entry->currentSwitchIntervalMicroseconds, u"%d us");
}
