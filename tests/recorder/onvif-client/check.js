// Reads varnel-recorder's ONVIF services with the npm package `onvif`, a
// client no one here wrote, and prints what it read as one JSON object; a
// call that fails gives its error text in place of its answer.
//   node check.js PORT USER PASSWORD
const { Cam } = require('onvif');
const xml2js = require('xml2js');

const [port, username, password] = process.argv.slice(2);
const cam = new Cam({ hostname: '127.0.0.1', port: Number(port), username, password, autoconnect: false, timeout: 20000 });

// The client's call as a promise of its answer (and the raw XML).
function ask(method, ...args) {
  return new Promise((resolve) => {
    cam[method](...args, (err, value, xml) => resolve(err ? { error: err.message, xml } : { value, xml }));
  });
}

// A search-service call the package has no method for, through its own SOAP request.
function search(body) {
  return new Promise((resolve) => {
    cam._request({ service: 'search', body: cam._envelopeHeader() + body + cam._envelopeFooter() },
      (err, data, xml) => resolve(err ? { error: err.message } : { xml }));
  });
}

function parse(xml) {
  let out = null;
  xml2js.parseString(xml, { tagNameProcessors: [xml2js.processors.stripPrefix], explicitArray: false },
    (err, result) => { out = err ? null : result; });
  return out;
}

const SEARCH = 'xmlns="http://www.onvif.org/ver10/search/wsdl"';

async function main() {
  const out = {};
  const time = await ask('getSystemDateAndTime');
  out.time = time.error ? { error: time.error } : time.value.toISOString();
  const caps = await ask('getCapabilities');
  if (caps.error) {
    out.capabilities = { error: caps.error };
    console.log(JSON.stringify(out));
    return;
  }
  out.capabilities = Object.fromEntries(Object.entries(cam.uri).map(([k, v]) => [k, v.href]));
  const summary = await ask('getRecordingSummary');
  out.summary = summary.error ? { error: summary.error } : summary.value;
  const recordings = await ask('getRecordings');
  const items = recordings.error ? [] : [].concat(recordings.value || []);
  out.recordings = recordings.error ? { error: recordings.error } : items.map((r) => r.recordingToken);
  out.replayUri = {};
  out.information = {};
  out.events = {};
  for (const token of items.map((r) => r.recordingToken)) {
    const uri = await ask('getReplayUri', { recordingToken: token });
    out.replayUri[token] = uri.error ? { error: uri.error } : uri.value;
    // The package reads this answer under the wrong name; its XML is read here instead.
    const info = await ask('getRecordingInformation', { RecordingToken: token });
    const body = info.xml && parse(info.xml);
    const ri = body && body.Envelope.Body.GetRecordingInformationResponse.RecordingInformation;
    out.information[token] = ri ? { token: ri.RecordingToken, earliest: ri.EarliestRecording,
      latest: ri.LatestRecording, tracks: [].concat(ri.Track).map((t) => t.TrackType) } : { error: info.error };

    const found = await search(`<FindEvents ${SEARCH}><StartPoint>1970-01-01T00:00:00Z</StartPoint>` +
      `<EndPoint>2100-01-01T00:00:00Z</EndPoint><Scope><IncludedRecordings xmlns="http://www.onvif.org/ver10/schema">` +
      `${token}</IncludedRecordings></Scope><SearchFilter/><IncludeStartState>false</IncludeStartState>` +
      `<KeepAliveTime>PT10S</KeepAliveTime></FindEvents>`);
    const searchToken = found.xml && parse(found.xml).Envelope.Body.FindEventsResponse.SearchToken;
    const events = [];
    // One result a page, so that the paging is read too.
    for (let page = 0; searchToken && page < 100; ++page) {
      const got = await search(`<GetEventSearchResults ${SEARCH}><SearchToken>${searchToken}</SearchToken>` +
        `<MaxResults>1</MaxResults></GetEventSearchResults>`);
      if (got.error) break;
      const list = parse(got.xml).Envelope.Body.GetEventSearchResultsResponse.ResultList;
      for (const r of [].concat(list.Result || [])) {
        const item = r.Event.Message.Message.Data.SimpleItem.$;
        events.push({ time: r.Time, [item.Name]: item.Value });
      }
      if (list.SearchState === 'Completed') break;
    }
    const ended = searchToken && await search(`<EndSearch ${SEARCH}><SearchToken>${searchToken}</SearchToken></EndSearch>`);
    out.events[token] = { events, ended: Boolean(ended && !ended.error) };
  }
  console.log(JSON.stringify(out));
}

main();
