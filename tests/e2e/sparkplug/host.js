// An independent Sparkplug B primary host for the plant bus's tests, on
// npm's Sparkplug B codec and MQTT.js: it announces its STATE, follows
// one edge node (or, with NODE "+", every node of the group), checks every
// message it receives against what its node announced, and reports each
// one, decoded, with its node and what it found wrong, as JSON on
// "vdtest/host/event". The test drives it with JSON requests on
// "vdtest/host/do" (NCMD requests go to "node" where given, else NODE):
//   {"ncmd":[{"name":..., "type":..., "value":..., "byAlias":true}], "node":...}  an NCMD
//   {"raw":"<hex>"}                        NCMD bytes as they stand
//   {"state":"online"|"offline", "fresh":true}   its STATE, retained (fresh: a new timestamp)
//   {"burst":{"name":..., "type":..., "from":N, "count":N}}  that many NCMD
//                                          writes, each after the NDATA of the one before
//   {"quit":true}
// Each request is acknowledged by an event {"type":"done"}.
//   node host.js PORT GROUP NODE HOSTID
'use strict';
const mqtt = require('mqtt');
const sparkplug = require('sparkplug-payload').get('spBv1.0');

const [port, group, node, hostId] = process.argv.slice(2);
const stateTopic = `spBv1.0/STATE/${hostId}`;
let stamp = Date.now();
const client = mqtt.connect(`mqtt://127.0.0.1:${port}`, {
  clientId: `vdtest-host-${hostId}`,
  protocolVersion: 5,
  clean: true,
  reconnectPeriod: 500,
  will: {topic: stateTopic, payload: JSON.stringify({online: false, timestamp: stamp}), qos: 1, retain: true},
});
// Bounded: the test ends it, else it ends itself.
setTimeout(() => process.exit(3), 600000).unref();

// What each node announced in its last birth.
const nodes = new Map();
function seenOf(name) {
  if (!nodes.has(name)) nodes.set(name, {online: false, bdSeq: null, seq: null, aliases: new Map(), names: new Map()});
  return nodes.get(name);
}

const plain = (v) => (v !== null && typeof v === 'object' && 'low' in v && 'high' in v ? Number(v.toString()) : v);

function report(event) {
  client.publish('vdtest/host/event', JSON.stringify(event), {qos: 1});
}

function check(seen, type, p) {
  const errors = [];
  const metrics = {};
  if (p.timestamp === undefined || p.timestamp === null) errors.push(`${type} without a timestamp`);
  const seq = p.seq === undefined || p.seq === null ? null : plain(p.seq);
  if (type === 'NBIRTH') {
    seen.aliases.clear();
    seen.names.clear();
    if (seq !== 0) errors.push(`NBIRTH seq ${seq}, not 0`);
    for (const m of p.metrics) {
      const alias = m.alias === undefined ? null : plain(m.alias);
      if (!m.name) errors.push('a birth metric without a name');
      if (alias === null) errors.push(`${m.name}: no alias`);
      else if (seen.aliases.has(alias)) errors.push(`${m.name}: alias ${alias} also ${seen.aliases.get(alias).name}`);
      if (!m.type) errors.push(`${m.name}: no datatype`);
      if (m.timestamp === undefined || m.timestamp === null) errors.push(`${m.name}: no timestamp`);
      seen.aliases.set(alias, {name: m.name, type: m.type});
      seen.names.set(m.name, {alias, type: m.type});
      metrics[m.name] = plain(m.value);
    }
    const bd = seen.names.get('bdSeq');
    if (!bd || bd.type !== 'Int64') errors.push('no Int64 bdSeq in the birth');
    if (!seen.names.has('Node Control/Rebirth')) errors.push('no Node Control/Rebirth');
    seen.bdSeq = metrics.bdSeq;
    seen.seq = 0;
    seen.online = true;
  } else if (type === 'NDATA') {
    if (!seen.online) errors.push('NDATA while the node is not born');
    if (seen.seq !== null && seq !== (seen.seq + 1) % 256) errors.push(`NDATA seq ${seq} after ${seen.seq}`);
    seen.seq = seq;
    for (const m of p.metrics) {
      const alias = m.alias === undefined ? null : plain(m.alias);
      const known = seen.aliases.get(alias);
      if (!known) {
        errors.push(`NDATA alias ${alias} not in the birth`);
        continue;
      }
      if (m.name) errors.push(`${known.name}: NDATA by name, not alias only`);
      if (m.timestamp === undefined || m.timestamp === null) errors.push(`${known.name}: no timestamp`);
      if (m.type !== known.type) errors.push(`${known.name}: ${m.type}, born ${known.type}`);
      metrics[known.name] = plain(m.value);
    }
  } else if (type === 'NDEATH') {
    for (const m of p.metrics) metrics[m.name] = plain(m.value);
    if (metrics.bdSeq === undefined) errors.push('NDEATH without bdSeq');
    else if (seen.bdSeq !== null && metrics.bdSeq !== seen.bdSeq)
      errors.push(`NDEATH bdSeq ${metrics.bdSeq}, birth had ${seen.bdSeq}`);
    seen.online = false;
    seen.seq = null;
  }
  return {type, seq, bdSeq: type === 'NDATA' ? seen.bdSeq : metrics.bdSeq, metrics, errors};
}

function ncmd(to, list) {
  const seen = seenOf(to);
  const metrics = list.map((w) => {
    const m = {type: w.type, value: w.value};
    if (w.byAlias) m.alias = seen.names.get(w.name).alias;
    else m.name = w.name;
    return m;
  });
  client.publish(`spBv1.0/${group}/NCMD/${to}`, sparkplug.encodePayload({timestamp: Date.now(), metrics}), {qos: 1});
}

// A burst in progress: the next write goes when the last one is reported.
let burst = null;
function next() {
  if (burst.sent === burst.count) {
    burst = null;
    return report({type: 'done'});
  }
  ncmd(burst.node, [{name: burst.name, type: burst.type, value: burst.from + burst.sent++, byAlias: true}]);
}

function state(online, fresh) {
  if (fresh) stamp = Date.now();
  client.publish(stateTopic, JSON.stringify({online, timestamp: stamp}), {qos: 1, retain: true});
}

client.on('connect', () => {
  client.subscribe([`spBv1.0/${group}/#`, 'vdtest/host/do'], {qos: 1}, () => {
    state(true, false);
    report({type: 'ready'});
  });
});

client.on('message', (topic, payload) => {
  if (topic === 'vdtest/host/do') {
    const r = JSON.parse(payload.toString());
    const to = r.node || node;
    if (r.ncmd) ncmd(to, r.ncmd);
    if (r.raw !== undefined) client.publish(`spBv1.0/${group}/NCMD/${to}`, Buffer.from(r.raw, 'hex'), {qos: 1});
    if (r.state) state(r.state === 'online', r.fresh);
    if (r.burst) {
      burst = {...r.burst, node: to, sent: 0};
      return next();
    }
    if (r.quit) return client.end(false, () => process.exit(0));
    return report({type: 'done'});
  }
  const parts = topic.split('/');
  if (parts.length !== 4 || (node !== '+' && parts[3] !== node) || parts[2] === 'NCMD') return;
  let p;
  try {
    p = sparkplug.decodePayload(payload);
  } catch (e) {
    return report({type: parts[2], node: parts[3], errors: [`undecodable: ${e.message}`], metrics: {}});
  }
  const event = {node: parts[3], ...check(seenOf(parts[3]), parts[2], p)};
  report(event);
  if (burst && burst.node === event.node && event.metrics[burst.name] === burst.from + burst.sent - 1) next();
});
