// Moves bytes between the page and the engine module; converts nothing itself.
// A classic script (no import or export), so that the page can carry it inline
// and open from file://, and Node's tests can run the same text.
class QuarnelEngine {
  // The module asks its host for a few system calls (WASI) that the engine
  // never makes during a conversion; each answers "not supported", and an
  // exit (an abort inside the module) becomes an exception.
  static async load(moduleBytes) {
    const module = await WebAssembly.compile(moduleBytes);
    const imports = {};
    for (const { module: from, name, kind } of WebAssembly.Module.imports(module)) {
      if (kind !== 'function') continue;
      imports[from] ??= {};
      imports[from][name] = name === 'proc_exit'
        ? (code) => { throw new Error(`The converter stopped (exit ${code}).`); }
        : () => 52;  // ENOSYS
    }
    const instance = await WebAssembly.instantiate(module, imports);
    instance.exports._initialize?.();
    return new QuarnelEngine(instance.exports);
  }

  constructor(exports) {
    this.exports = exports;
    // The status and report of a failure of no known kind, for when the
    // module itself stops part way; taken now, while the module is sound.
    const at = exports.quarnel_unknown_error_report();
    const memory = new Uint8Array(exports.memory.buffer);
    this.unknownError = {
      status: exports.quarnel_failed_status(),
      report: new TextDecoder().decode(memory.subarray(at, memory.indexOf(0, at))),
    };
  }

  // Converts one file. `status` is the command line's exit status: 0
  // completed, 3 not necessary, 1 failed. `target` is null unless completed;
  // `targetName` is the name the command line would give it.
  // `variables` and `applications` are the numbers the report describes.
  convert(name, sourceBytes) {
    const e = this.exports;
    const nameBytes = new TextEncoder().encode(name);
    const room = e.quarnel_prepare(nameBytes.length, sourceBytes.length);
    // Views are taken after every call: the module's memory may have grown.
    const input = new Uint8Array(e.memory.buffer, room, nameBytes.length + sourceBytes.length);
    input.set(nameBytes);
    input.set(sourceBytes, nameBytes.length);
    const status = e.quarnel_convert();
    const bytes = (at, size) => new Uint8Array(e.memory.buffer, at, size).slice();
    const text = (at, size) => new TextDecoder().decode(bytes(at, size));
    const numbers = status === 0 ? JSON.parse(text(e.quarnel_numbers(), e.quarnel_numbers_size())) : [[], []];
    return {
      status,
      report: text(e.quarnel_report(), e.quarnel_report_size()),
      messages: text(e.quarnel_messages(), e.quarnel_messages_size()),
      // For "not necessary": what the model line names instead of an old model.
      note: text(e.quarnel_note(), e.quarnel_note_size()),
      targetName: text(e.quarnel_target_name(), e.quarnel_target_name_size()),
      target: status === 0 ? bytes(e.quarnel_target(), e.quarnel_target_size()) : null,
      // Numbers only once converted: the variables to move and the
      // applications removed.
      variables: numbers[0],
      applications: numbers[1],
    };
  }

  // True for a file name (no folder) that a folder walk takes, as `quarnel -r` does.
  isSourceName(name) {
    this.#putName(name);
    return this.exports.quarnel_is_source_name() === 1;
  }

  // The converted file's name for a source's file name (no folder).
  targetName(name) {
    this.#putName(name);
    this.exports.quarnel_propose_target_name();
    return this.#nameAnswer();
  }

  // The zip entry for a path ("/" between folders) that Windows extractors
  // write where it says: { name, changed }, `changed` when it is not `path`.
  zipEntryName(path) {
    this.#putName(path);
    const changed = this.exports.quarnel_zip_entry_name() === 1;
    return { name: this.#nameAnswer(), changed };
  }

  #putName(name) {
    const bytes = new TextEncoder().encode(name);
    const room = this.exports.quarnel_name_room(bytes.length);
    new Uint8Array(this.exports.memory.buffer, room, bytes.length).set(bytes);
  }

  #nameAnswer() {
    const e = this.exports;
    const at = e.quarnel_name_answer();
    return new TextDecoder().decode(new Uint8Array(e.memory.buffer, at, e.quarnel_name_answer_size()));
  }

  // The change list of the last conversion, if it completed, else null:
  // { lineCount, lastLineEnded, endMarker: [line, column] or null, total,
  // lines: [{ line, kind, edits: [[start, length, text, kind, number]],
  // flagged: [[number, start, length]] }] }, `lines` holding `count` of the
  // `total` changed lines from the `first` on. Texts hold one character per byte.
  changes(first = 0, count = 0xffffffff) {
    const e = this.exports;
    const at = e.quarnel_changes(first, count);
    const size = e.quarnel_changes_size();
    if (!size) return null;
    return JSON.parse(new TextDecoder().decode(new Uint8Array(e.memory.buffer, at, size)));
  }
}
