#include "patch/patch_transfer.h"

#include "rdm/device_info.h"

int ReadPatch(RdmEngine& engine, const DeviceTable& table, int count,
              const std::function<void(int, uint16_t, uint16_t)>& update, const RunControl& control)
{
    for (int i = 0; i < count; ++i) {
        if (control.stopped()) {
            engine.log().appendLine(status_text::kStoppedByUser);
            return i;
        }
        uint16_t footprint = 0, startIndex = 0;
        if (ReadFootprintAndStart(engine, table.entries[i].uid, footprint, startIndex))
            update(i, footprint, startIndex);
        control.step(i + 1, count);
    }
    return count;
}

int WritePatch(RdmEngine& engine, const DeviceTable& table, int count, const RunControl& control,
               const std::function<void(int, TxResult)>& written)
{
    for (int i = 0; i < count; ++i) {
        if (control.stopped()) {
            engine.log().appendLine(status_text::kStoppedByUser);
            engine.log().appendLine("Записано " + std::to_string(i) + " из " + std::to_string(count) +
                                    " устройств.");
            return i;
        }
        const DeviceEntry& device = table.entries[i];
        // A patch moves one device at a time: a broadcast would move them all.
        const TxResult result =
            IsDeviceUid(device.uid) ? SetStartAddress(engine, device.uid, device.startIndex) : TxFailed;
        engine.log().appendLine("Устройство " + UidLogText(device.uid) + ", адрес " +
                                std::to_string(device.startIndex + 1) + ": " +
                                (result == TxAck              ? "записан"
                                 : result == TxNotAck         ? "отклонён (NACK)"
                                 : !IsDeviceUid(device.uid) ? "не отправлен: UID не одного устройства"
                                 : result == TxFailed         ? "не отправлен, ошибка интерфейса"
                                                              : "нет ответа"));
        if (written)
            written(i, result);
        control.step(i + 1, count);
    }
    return count;
}
